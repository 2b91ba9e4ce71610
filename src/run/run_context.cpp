// The front end's notifier, always called and changed under its lock.
#include "run/run_context.h"

void run_set_notifier(RunContext& run, WorkflowNotifier notifier, void* context) {
    std::lock_guard guard(run.notifier_lock);
    run.notifier = notifier;
    run.notifier_context = context;
}

void run_notify(RunContext& run, uint32_t workflow_id) {
    std::lock_guard guard(run.notifier_lock);
    if (run.notifier) run.notifier(run.notifier_context, workflow_id);
}
