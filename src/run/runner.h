// The runner: one thread per running workflow, walking it through its
// states (resolve, wait for the live, capture and record, loop the
// recording) and retrying every failure after 3 seconds until stopped.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "platform/files/file_lock.h"
#include "platform/time/event.h"

struct Workflow;
struct WorkflowHealth;

constexpr uint32_t RESTART_PAUSE_MS = 3000;
constexpr uint32_t WAIT_SLICE_MS = 100;

// Run control's handle on a runner thread. `done` is set as the runner's
// very last act, which lets stop wait a bounded time for it; the run lock
// is let go just before.
struct RunnerThread {
    std::thread thread;
    Event done;
    FileLockPtr run_lock;  // null when the list has no file to lock beside
    // Set by workflow_destroy when the runner outlived its stop: the runner
    // then frees the workflow itself on its way out. Guarded by `exit_lock`.
    std::mutex exit_lock;
    bool exited = false;
    bool orphaned = false;
};

// The figures of the workflow's current or last run; null before its first.
[[nodiscard]] std::shared_ptr<const WorkflowHealth> workflow_health(Workflow& workflow);

// The thread body; always returns 0.
int workflow_runner(Workflow& workflow);

// Sleeps `ms` in slices of at most 100 ms, reading the stop flag before
// each; true when stop was requested. 0 returns false at once.
[[nodiscard]] bool wait_or_stop(Workflow& workflow, uint32_t ms);

// "<recording_dir>/workflow-<id>-YYYYMMDD-HHMMSS.ts" for a capture starting
// now, or "" when that path would not fit (cut, it would name another file).
[[nodiscard]] std::string recording_path_for(const std::string& recording_dir, uint32_t id);
