// RunContext: what run control and the runners need of the process: the
// workflow list (as its base), the folders they read (tools beside the
// program, logs), the yt-dlp probe result, the engines they call, and the
// notifier through which runner threads tell the front end that a workflow
// changed. The front end's own context extends it.
//
// The notifier stands in for posting a window message: the front end sets
// it when its window exists and clears it before the window goes away; the
// mutex around it guarantees that no runner calls into a closed window.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "workflow/workflow.h"

struct EngineTable;

// Called on a runner (or probe) thread; must only queue work for the front end.
using WorkflowNotifier = void (*)(void* context, uint32_t workflow_id);
// Sent with workflow id 0 when the background yt-dlp probe has finished.
constexpr uint32_t TOOL_PROBE_DONE = 0;

// The workflow list (records, next id, config and recordings paths) is the
// base: the workflow layer works on it without knowing this context.
struct RunContext : WorkflowList {
    RunContext() { context = this; }
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    std::string logs_dir;
    std::string program_dir;  // folder of the executable; tools/ lives beside it

    std::atomic<uint32_t> ytdlp_ok{0};
    const EngineTable* engines = nullptr;  // installed by the front end (tests install fakes)

    std::mutex notifier_lock;
    WorkflowNotifier notifier = nullptr;  // under notifier_lock
    void* notifier_context = nullptr;     // under notifier_lock
};

// Installs or clears (nullptr) the front end's notifier.
void run_set_notifier(RunContext& run, WorkflowNotifier notifier, void* context);
// Calls the notifier when one is set.
void run_notify(RunContext& run, uint32_t workflow_id);
