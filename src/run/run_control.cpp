// Run control. The runner thread is wrapped so that its last act is to mark
// itself ended (and, when its workflow was deleted while it ignored a stop,
// to free that workflow), which gives stop a bounded wait and makes it safe
// to leave a stuck runner behind: start refuses to start a second one while
// the first has not ended, and the record outlives it. The run lock goes
// with the runner, so a stuck runner keeps other processes out too.
#include "run/run_control.h"

#include "platform/files/file_lock.h"
#include "platform/files/folders.h"
#include "run/run_context.h"
#include "run/runner.h"
#include "run/tools.h"
#include "workflow/check_messages.h"
#include "workflow/validate.h"
#include "workflow/workflow.h"

namespace {

void runner_main(Workflow* workflow, RunnerThread* runner) {
    workflow_runner(*workflow);
    runner->run_lock.reset();
    bool orphaned = false;
    {
        std::lock_guard guard(runner->exit_lock);
        runner->exited = true;
        orphaned = runner->orphaned;
    }
    runner->done.set();
    if (orphaned) delete workflow;  // its destroy is long over; nobody else holds it
}

void reap_ended_runner(Workflow& workflow) {
    if (!workflow.thread) return;
    if (workflow.thread->thread.joinable()) workflow.thread->thread.join();
    workflow.thread.reset();
}

bool launch_runner(Workflow& workflow, FileLockPtr run_lock) {
    reap_ended_runner(workflow);
    workflow.stop_requested.exchange(0);
    workflow.stop_event.reset();
    std::unique_ptr<RunnerThread, RunnerThreadDeleter> runner(new RunnerThread);
    runner->run_lock = std::move(run_lock);
    try {
        runner->thread = std::thread(runner_main, &workflow, runner.get());
    } catch (const std::system_error&) {
        return false;
    }
    workflow.thread = std::move(runner);
    return true;
}

void refuse(Workflow& workflow, const std::string& message) {
    workflow_set_last_error(workflow, message);
    workflow.state.exchange(static_cast<uint32_t>(WorkflowState::error));
    {
        std::lock_guard guard(workflow.lock);
        workflow.current_operation = "Validation failed";
    }
    if (workflow.context) run_notify(*workflow.context, workflow.id);
}

// True with the lock in `taken` (null when the list has no file, so no
// other process can share the workflow); false when another holder has it.
bool take_run_lock(Workflow& workflow, FileLockPtr* taken) {
    const std::string path = workflow.context ? run_lock_path(*workflow.context, workflow.id) : std::string();
    if (path.empty()) return true;
    *taken = file_lock_take(path);
    return *taken != nullptr;
}

bool validate_and_launch(Workflow& workflow) {
    std::string message;
    if (!workflow_check(workflow, &message)) {
        refuse(workflow, message);
        return false;
    }
    FileLockPtr run_lock;
    if (!take_run_lock(workflow, &run_lock)) {
        refuse(workflow, check_message::running_elsewhere);
        return false;
    }
    return launch_runner(workflow, std::move(run_lock));
}

}  // namespace

bool workflow_check(Workflow& workflow, std::string* message) {
    if (!workflow_validate(workflow, message)) return false;
    const WorkflowSettings s = workflow_settings_copy(workflow);
    const bool needs_ytdlp = s.type != WorkflowType::mp4_loop && s.source_type == SourceType::youtube;
    RunContext* run = workflow.context;
    if (!needs_ytdlp || !run || run->ytdlp_ok != 0) return true;
    run->ytdlp_ok = tool_probe(run->program_dir, YTDLP_FILE_NAME, "--version") ? 1 : 0;
    if (run->ytdlp_ok != 0) return true;
    if (message) *message = check_message::ytdlp_missing;
    return false;
}

bool workflow_start(Workflow& workflow) {
    if (workflow_runner_alive(workflow)) return true;
    return validate_and_launch(workflow);
}

void workflow_stop(Workflow* workflow) {
    if (!workflow) return;
    workflow->stop_requested.exchange(1);
    workflow->stop_event.set();
    if (workflow->thread && workflow->thread->done.wait_ms(STOP_WAIT_MS)) reap_ended_runner(*workflow);
    workflow->state.exchange(static_cast<uint32_t>(WorkflowState::stopped));
}

void workflow_restart(Workflow& workflow) {
    workflow_stop(&workflow);
    if (workflow_runner_alive(workflow)) return;
    (void)validate_and_launch(workflow);
}

std::string run_lock_path(const WorkflowList& list, uint32_t id) {
    const std::string folder = path_parent(list.config_path);
    return folder.empty() ? std::string() : path_join(folder, "workflow-" + std::to_string(id) + ".running");
}

bool workflow_runner_alive(const Workflow& workflow) {
    return workflow.thread && !workflow.thread->done.is_set();
}

void workflow_destroy(Workflow* workflow) {
    if (!workflow) return;
    workflow_stop(workflow);
    if (RunnerThread* runner = workflow->thread.get()) {
        std::unique_lock guard(runner->exit_lock);
        if (!runner->exited) {
            // The runner ignored its stop: it frees the record when it ends.
            runner->thread.detach();
            runner->orphaned = true;
            return;
        }
        guard.unlock();
        if (runner->thread.joinable()) runner->thread.join();
    }
    delete workflow;
}

void WorkflowDestroyer::operator()(Workflow* workflow) const {
    workflow_destroy(workflow);
}

void RunnerThreadDeleter::operator()(RunnerThread* runner) const {
    delete runner;
}
