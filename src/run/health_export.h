// Running workflows' figures for other programs, in the three forms a
// restreaming box is watched through: the Prometheus text format (a
// scraper's), JSON (a script's) and a small HTML page that reloads itself (a
// person's). All three are made from the fields of the status file, so they
// say the same as `veltrona-cli status`, under the same names, with stream
// keys already masked.
//
// Prometheus names carry the `veltrona_` prefix and their unit in base
// units (seconds, bytes; so rates are bytes per second, not bits); counters
// end in `_total`. Every series has the
// labels `workflow` (the id) and `name`, an output's also `output` (its
// number). A figure the run does not know yet (-1 in the status file) has no
// sample rather than a made-up one.
#pragma once

#include <string>
#include <vector>

#include "run/status_file.h"

inline constexpr const char* PROMETHEUS_CONTENT_TYPE = "text/plain; version=0.0.4; charset=utf-8";

// `/metrics`: one family per figure, families in a fixed order.
[[nodiscard]] std::string prometheus_text(const std::vector<StatusFields>& workflows, const std::string& version);

// `/api/v1/workflows`: {"version": ..., "workflows": [...]}, each workflow
// an object of the status file's fields grouped by their first name part
// ("source.bitrate_bps" becomes "source": {"bitrate_bps": ...}), its outputs
// an array of objects with their "number". Texts stay strings, figures are
// numbers (-1 where unknown).
[[nodiscard]] std::string workflows_json(const std::vector<StatusFields>& workflows, const std::string& version);

// `/`: a read-only page of every workflow and output, reloading every
// `refresh_s` seconds, with a warning where a figure breaks what ingests expect.
[[nodiscard]] std::string status_page_html(const std::vector<StatusFields>& workflows, const std::string& version,
                                           unsigned refresh_s);
