// AppContext: the one process-wide record. It is the runners' context (the
// workflow table in list order, only ever changed on the main thread, the
// logs and program folders, the yt-dlp probe result, the engines, the
// notifier) plus what only start-up and the front ends use: the per-user
// data folder.
#pragma once

#include <cstdint>
#include <string>

#include "run/run_context.h"

struct AppContext : RunContext {
    std::string data_dir;
};

// Fills folders and paths (data folder = `data_dir_override` when non-empty,
// else <user data base>/Veltrona, else <temp>/Veltrona), creates the folders,
// copies a legacy configuration once.
void app_context_init(AppContext& app, const std::string& data_dir_override = "");

// Finds a workflow by id; null when there is none.
[[nodiscard]] Workflow* app_find_workflow(AppContext& app, uint32_t id);
