// Start, stop and restart: the only way a run begins or ends from outside.
// All three are called on the main thread.
#pragma once

#include <cstdint>

struct Workflow;

constexpr uint32_t STOP_WAIT_MS = 5000;

// True when the workflow runs afterwards (also when it already ran). A
// workflow that fails validation is set to ERROR, "Validation failed", with
// the reason as its last error.
[[nodiscard]] bool workflow_start(Workflow& workflow);
// Raises the stop flag and event and waits up to 5 s for the runner; the
// state reads STOPPED afterwards either way. Accepts null.
void workflow_stop(Workflow* workflow);
// Stop, then start (unless the old runner is still alive).
void workflow_restart(Workflow& workflow);
