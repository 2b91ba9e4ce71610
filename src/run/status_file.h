// The status file: how a headless run shows its workflows' figures to
// other programs on the machine (`veltrona-cli status`, scripts, later a
// metrics endpoint). The run rewrites `<data folder>/status/workflow-ID.status`
// about once a second, whole and at once (a temporary file renamed over the
// old one, mode 0600), and removes it when the workflow stops.
//
//   key=value lines, UTF-8, LF; keys are stable, values never span lines:
//   id=1  state=STREAMING  source.bitrate_bps=2500000  output.1.state=CONNECTED ...
//
// Output URLs appear with their stream keys masked, and no text of the file
// ever holds a whole output URL. A reader trusts a file only while the
// workflow's run lock is held and the file is younger than
// STATUS_FILE_STALE_MS: a run that ended without cleaning up (killed, or
// the machine went down) leaves a file that reads as "not running".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engines/health.h"
#include "workflow/workflow.h"

constexpr uint64_t STATUS_FILE_PERIOD_MS = 1000;
constexpr uint64_t STATUS_FILE_STALE_MS = 5000;

using StatusFields = std::map<std::string, std::string>;

// `<data folder>/status/workflow-ID.status`; "" when the list has no file.
[[nodiscard]] std::string status_file_path(const WorkflowList& list, uint32_t id);

// The key=value lines of one workflow: its state, text and the snapshot of
// its run (`health` may be null before the first), stamped with the wall
// clock (`written_ms`, Unix milliseconds) and the writing process.
[[nodiscard]] std::string status_file_text(Workflow& workflow, const HealthSnapshot* health, uint64_t written_ms);

// Writes the workflow's file now (creating the folder); false when it could not be written.
[[nodiscard]] bool status_file_write(Workflow& workflow);

// Removes the workflow's file, if any.
void status_file_remove(Workflow& workflow);

// Parses key=value lines; lines without '=' are skipped.
[[nodiscard]] StatusFields status_fields_parse(const std::string& text);

// The fields of a workflow as its status file would hold them now.
[[nodiscard]] StatusFields workflow_status_fields(Workflow& workflow);

// The fields read back as texts and numbers.
struct StatusFigures {
    const StatusFields& fields;
    [[nodiscard]] std::string text(const std::string& key) const;
    [[nodiscard]] double number(const std::string& key) const;  // 0 when missing
    [[nodiscard]] bool known(const std::string& key) const;     // present and not negative (-1 is unknown)
};

// A figure as the status command and the status page write it: "2.51 Mb/s"
// from bits per second, "2.0 s" from milliseconds, "1.2 MB" from bytes.
[[nodiscard]] std::string megabits_text(double bits_per_second);
[[nodiscard]] std::string seconds_text(double ms);
[[nodiscard]] std::string megabytes_text(double bytes);

// The numbers of the outputs the fields describe, ascending. They are the
// outputs' places among the stored ones, so a disabled output leaves a gap.
[[nodiscard]] std::vector<size_t> status_output_numbers(const StatusFields& fields);

// The fields of a workflow's file when a run is writing it now; nothing when
// the file is missing, unreadable, older than STATUS_FILE_STALE_MS, or the
// run lock is not held (the run is over).
[[nodiscard]] std::optional<StatusFields> status_file_read_live(const WorkflowList& list, uint32_t id);

// Unix time in milliseconds, for the stamp.
[[nodiscard]] uint64_t status_wall_ms();
