// Start, stop and restart: the only way a run begins or ends from outside,
// and the end of a record, which must wait for its runner. All are called
// on the main thread.
//
// Every front end starts runs here, so here a run takes the workflow's run
// lock, a file beside the configuration that holds the workflow: another
// process that shares that configuration (the desktop, `veltrona-cli run`)
// cannot start a second publisher of the same stream key, and one that
// would delete the workflow can see it is running. The runner thread holds
// the lock until it ends.
#pragma once

#include <cstdint>
#include <string>

struct Workflow;
struct WorkflowList;

constexpr uint32_t STOP_WAIT_MS = 5000;

// workflow_validate, then, for a YouTube source, the yt-dlp probe (up to
// 30 s) unless it has succeeded before: true when the workflow may run,
// otherwise the reason for the user in `message`.
[[nodiscard]] bool workflow_check(Workflow& workflow, std::string* message);
// True when the workflow runs afterwards (also when it already ran). A
// workflow that fails validation, or that another process runs, is set to
// ERROR, "Validation failed", with the reason as its last error.
[[nodiscard]] bool workflow_start(Workflow& workflow);
// Raises the stop flag and event and waits up to 5 s for the runner; the
// state reads STOPPED afterwards either way. Accepts null.
void workflow_stop(Workflow* workflow);
// Stop, then start (unless the old runner is still alive).
void workflow_restart(Workflow& workflow);
// The run lock of workflow `id` of `list`; "" when the list has no file.
[[nodiscard]] std::string run_lock_path(const WorkflowList& list, uint32_t id);
// True while a runner thread exists that has not ended.
[[nodiscard]] bool workflow_runner_alive(const Workflow& workflow);
// Stops the run (bounded) and frees the record. A runner that ignored the
// stop is left to free the record itself when it finally ends. Accepts null.
void workflow_destroy(Workflow* workflow);
