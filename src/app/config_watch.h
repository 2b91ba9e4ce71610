// Noticing what other programs save. The desktop reloads its list when
// config.tsv changes under it. `veltrona-cli run`, when another process
// (`veltrona-cli edit`, the desktop) saves a change, hands the new overlay
// fields to the workflows it is running, the way the desktop editor does on
// a confirmed edit: replaced under the workflow's lock, then `revision`
// raised, so a running overlay pipeline fetches them between two frames.
// Only the overlay fields travel there; the rest of a saved change waits for
// the next run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files/folders.h"
#include "workflow/workflow.h"

constexpr uint32_t CONFIG_WATCH_INTERVAL_MS = 1000;

struct ConfigWatch {
    std::string path;
    FileStamp stamp;
    uint64_t next_check_ms = 0;
};

// Starts watching `path` from the settings the workflows were loaded with:
// the first poll reads the file, so a change saved between the load and
// this start is applied too.
void config_watch_start(ConfigWatch& watch, const std::string& path);

// At most once per interval: true when the file changed since the last look.
[[nodiscard]] bool config_watch_changed(ConfigWatch& watch);

struct ConfigWatchNews {
    std::vector<uint32_t> updated;  // ids whose overlay fields changed
    bool unreadable = false;        // the file changed but could not be read
};

// At most once per interval: when the file changed, re-reads it and applies
// the saved overlay fields of each of `workflows` found in it.
[[nodiscard]] ConfigWatchNews config_watch_poll(ConfigWatch& watch, const std::vector<Workflow*>& workflows);

// Copies the overlay fields of `saved` into the workflow under its lock and
// raises its revision; false (nothing touched) when they are the same.
bool workflow_apply_overlay(Workflow& workflow, const WorkflowSettings& saved);
