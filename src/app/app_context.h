// AppContext: the one process-wide record. It owns the workflow table (in
// list order, only ever changed on the main thread), the per-user folders,
// the yt-dlp probe result, the engines the runners call, and the notifier
// through which runner threads tell the front end that a workflow changed.
//
// The notifier stands in for posting a window message: the front end sets
// it when its window exists and clears it before the window goes away; the
// mutex around it guarantees that no runner calls into a closed window.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "workflow/workflow.h"

struct EngineTable;

// Called on a runner (or probe) thread; must only queue work for the front end.
using WorkflowNotifier = void (*)(void* context, uint32_t workflow_id);
// Sent with workflow id 0 when the background yt-dlp probe has finished.
constexpr uint32_t TOOL_PROBE_DONE = 0;

// The workflow list (records, next id, config and recordings paths) is the
// base: the workflow layer works on it without knowing this context.
struct AppContext : WorkflowList {
    AppContext() { context = this; }
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    std::string data_dir;
    std::string logs_dir;
    std::string program_dir;  // folder of the executable; tools/ lives beside it

    std::atomic<uint32_t> ytdlp_ok{0};
    const EngineTable* engines = nullptr;  // installed by the front end (tests install fakes)

    std::mutex notifier_lock;
    WorkflowNotifier notifier = nullptr;  // under notifier_lock
    void* notifier_context = nullptr;     // under notifier_lock
};

// Fills folders and paths (data folder = `data_dir_override` when non-empty,
// else <user data base>/Veltrona, else <temp>/Veltrona), creates the folders,
// copies a legacy configuration once.
void app_context_init(AppContext& app, const std::string& data_dir_override = "");

// Installs or clears (nullptr) the front end's notifier.
void app_set_notifier(AppContext& app, WorkflowNotifier notifier, void* context);
// Calls the notifier when one is set.
void app_notify(AppContext& app, uint32_t workflow_id);

// Finds a workflow by id; null when there is none.
[[nodiscard]] Workflow* app_find_workflow(AppContext& app, uint32_t id);
