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
// copies a legacy configuration once. A data folder that another user could
// have prepared (not owned by the user, or writable by others) or whose
// files' paths would not fit is refused: the result says why, and the
// paths of the files are left empty so nothing is read or written there.
// Empty when the folder is in use.
[[nodiscard]] std::string app_context_init(AppContext& app, const std::string& data_dir_override = "");

// Finds a workflow by id; null when there is none.
[[nodiscard]] Workflow* app_find_workflow(WorkflowList& list, uint32_t id);
