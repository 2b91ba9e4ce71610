// The headless front end. It runs the desktop program's start-up (without
// launcher entries), then one command. `run` prints one line per status
// change, collected through the same notifier the desktop window uses: the
// runner thread snapshots the state and text at the moment it reports, so
// short-lived states (LIVE ENDED, STARTING PLAYBACK) are never missed.
#include "cli/cli.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/config_watch.h"
#include "app/startup.h"
#include "app/version.h"
#include "cli/workflow_options.h"
#include "engines/engine_contract.h"
#include "platform/files/file_lock.h"
#include "platform/process/stop_request.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "run/run_control.h"
#include "workflow/config.h"
#include "workflow/editor_rules.h"
#include "workflow/validate.h"

namespace {

constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

constexpr const char* USAGE =
    "usage: veltrona-cli [--data-dir DIR] list\n"
    "       veltrona-cli [--data-dir DIR] add --type T --name NAME --source SRC --output URL [workflow options]\n"
    "       veltrona-cli [--data-dir DIR] edit ID [workflow options]\n"
    "       veltrona-cli [--data-dir DIR] delete ID\n"
    "       veltrona-cli [--data-dir DIR] check ID\n"
    "       veltrona-cli [--data-dir DIR] run [--seconds N] ID...|--all\n"
    "       veltrona-cli --version\n";

int usage_error(const char* detail) {
    if (detail) std::fprintf(stderr, "veltrona-cli: %s\n", detail);
    std::fputs(USAGE, stderr);
    std::fputs(WORKFLOW_OPTIONS_USAGE, stderr);
    return EXIT_USAGE;
}

bool parse_id(WorkflowList& list, const std::string& text, Workflow** workflow) {
    uint64_t id = 0;
    if (!parse_whole(text, 0xFFFFFFFF, &id)) return false;
    *workflow = app_find_workflow(list, static_cast<uint32_t>(id));
    return *workflow != nullptr;
}

// ---- list ----

// Every output, masked, after the first: "\t" URL (" (disabled)").
std::string masked_extra_outputs(const WorkflowSettings& s) {
    std::string shown;
    for (const ExtraOutput& extra : s.extra_outputs) {
        shown += '\t';
        shown += mask_stream_key(extra.url);
        if (!extra.enabled) shown += " (disabled)";
    }
    return shown;
}

int command_list(AppContext& app, const std::vector<std::string>&) {
    for (const WorkflowPtr& workflow : app.workflows) {
        WorkflowSettings s = workflow_settings_copy(*workflow);
        std::printf("%u\t%s\t%s\t%s\t%s\t%s%s\n", workflow->id, s.name.c_str(), workflow_type_list_name(s.type),
                    workflow_source_column(s.type, s.source_type), workflow_state_name(workflow->state.load()),
                    mask_stream_key(s.output_url).c_str(), masked_extra_outputs(s).c_str());
    }
    return 0;
}

// ---- add ----

// Prints a refusal in the editor's words ("Title: message"); the refused exit.
int refuse(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return EXIT_REFUSED;
}

// Applies the options and the editor's save checks; an exit code on failure.
std::optional<int> read_options(WorkflowSettings& s, const std::vector<std::string>& args,
                                std::vector<std::string>* given) {
    if (std::optional<OptionProblem> problem = apply_workflow_options(s, args, given)) {
        return problem->refused ? refuse(problem->text) : usage_error(problem->text.c_str());
    }
    return std::nullopt;
}

std::optional<int> check_as_editor(const WorkflowSettings& s) {
    if (std::optional<EditorProblem> problem = editor_check(s)) return refuse(problem->title + ": " + problem->message);
    return std::nullopt;
}

// One change of the saved list, made on the file as it is now (see
// config_update); false when it was not saved, said on stderr unless the
// change declined (it has said why).
bool save_change(AppContext& app, const std::function<bool(WorkflowList& saved)>& change) {
    std::string error;
    if (config_update(app, change, &error)) return true;
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

int command_add(AppContext& app, const std::vector<std::string>& args) {
    WorkflowSettings s = WorkflowPtr(workflow_create(app))->settings;  // the defaults
    std::vector<std::string> given;
    std::optional<int> failed = read_options(s, args, &given);
    auto has = [&given](const char* option) { return std::find(given.begin(), given.end(), option) != given.end(); };
    if (!failed && !(has("--type") && has("--name") && has("--source") && has("--output"))) {
        failed = usage_error("add needs --type, --name, --source and --output");
    }
    if (!failed) failed = check_as_editor(s);
    if (failed) return *failed;
    uint32_t id = 0;
    bool saved = save_change(app, [&](WorkflowList& list) {
        if (list.workflows.size() >= MAX_WORKFLOWS) {
            failed = refuse(string_printf("The list already holds %zu workflows.", MAX_WORKFLOWS));
            return false;
        }
        Workflow* workflow = list.workflows.emplace_back(workflow_create(list)).get();
        workflow_settings_replace(*workflow, s);
        id = workflow->id;
        return true;
    });
    if (!saved) return failed.value_or(EXIT_REFUSED);
    std::printf("%u\n", id);
    return 0;
}

// ---- edit, delete ----

int command_edit(AppContext& app, const std::vector<std::string>& args) {
    if (args.size() < 3) return usage_error("edit takes a workflow id and options");
    std::optional<int> failed;
    bool saved = save_change(app, [&](WorkflowList& list) {
        Workflow* workflow = nullptr;
        if (!parse_id(list, args[0], &workflow)) {
            failed = usage_error("edit takes a workflow id and options");
            return false;
        }
        WorkflowSettings s = workflow_settings_copy(*workflow);
        std::vector<std::string> given;
        std::vector<std::string> options(args.begin() + 1, args.end());
        failed = read_options(s, options, &given);
        if (!failed) failed = check_as_editor(s);
        if (failed) return false;
        workflow_settings_replace(*workflow, s);
        return true;
    });
    return saved ? 0 : failed.value_or(EXIT_REFUSED);
}

int command_delete(AppContext& app, const std::vector<std::string>& args) {
    if (args.size() != 1) return usage_error("delete takes one workflow id");
    std::optional<int> failed;
    bool saved = save_change(app, [&](WorkflowList& list) {
        Workflow* workflow = nullptr;
        if (!parse_id(list, args[0], &workflow)) {
            failed = usage_error("delete takes one workflow id");
        } else if (file_lock_held(run_lock_path(app, workflow->id))) {
            failed = refuse("Stop the workflow before deleting it.");
        }
        if (failed) return false;
        std::erase_if(list.workflows, [workflow](const WorkflowPtr& held) { return held.get() == workflow; });
        return true;
    });
    return saved ? 0 : failed.value_or(EXIT_REFUSED);
}

// ---- check ----

int command_check(AppContext& app, const std::vector<std::string>& args) {
    Workflow* workflow = nullptr;
    if (args.size() != 1) return usage_error("check takes one workflow id");
    if (!parse_id(app, args[0], &workflow)) return usage_error("no workflow has that id");
    std::string message;
    if (!workflow_check(*workflow, &message)) {
        std::printf("%s\n", message.c_str());
        return EXIT_REFUSED;
    }
    std::printf("Workflow %u is ready to run.\n", workflow->id);
    return 0;
}

// ---- run ----

struct StatusEvent {
    uint32_t id;
    uint32_t state;
    std::string operation;
};

struct StatusQueue {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<StatusEvent> events;
    AppContext* app = nullptr;
};

constexpr uint64_t RUN_TICK_MS = 500;

void queue_status(void* context, uint32_t id) {
    auto* queue = static_cast<StatusQueue*>(context);
    Workflow* workflow = id == TOOL_PROBE_DONE ? nullptr : app_find_workflow(*queue->app, id);
    if (!workflow) return;
    StatusEvent event{id, workflow->state.load(), workflow_current_operation(*workflow)};
    std::lock_guard guard(queue->lock);
    queue->events.push_back(std::move(event));
    queue->changed.notify_one();
}

// What was printed last: each workflow's last error, each output's state and error.
struct Printed {
    std::map<uint32_t, std::string> last_errors;
    std::map<std::pair<uint32_t, size_t>, OutputTold> outputs;
};

void print_time() {
    LocalTime now = local_time_now();
    std::printf("%04u-%02u-%02u %02u:%02u:%02u ", now.year, now.month, now.day, now.hour, now.minute, now.second);
}

void print_status(const StatusEvent& event) {
    print_time();
    std::printf("#%u %s %s\n", event.id, workflow_state_name(event.state), event.operation.c_str());
}

// "#1 output 2 RECONNECTING connection refused", for each output whose state
// is news (an output failing the same way on every retry is told once).
void print_output_news(Workflow& workflow, Printed& printed) {
    for (const OutputStatus& output : workflow_output_statuses(workflow)) {
        if (!output_status_news(printed.outputs[{workflow.id, output.number}], output)) continue;
        const bool failed = output.state == OutputState::reconnecting;
        print_time();
        std::printf("#%u output %zu %s%s%s\n", workflow.id, output.number, output_state_name(output.state),
                    failed ? " " : "", failed ? output.last_error.c_str() : "");
    }
}

// Prints queued status lines, output changes and last-error changes; waits up to `ms` for news.
void print_news(StatusQueue& queue, const std::vector<Workflow*>& workflows, Printed& printed, uint32_t ms) {
    std::deque<StatusEvent> events;
    {
        std::unique_lock guard(queue.lock);
        queue.changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return !queue.events.empty(); });
        events.swap(queue.events);
    }
    for (const StatusEvent& event : events) print_status(event);
    for (Workflow* workflow : workflows) {
        print_output_news(*workflow, printed);
        std::string error = workflow_last_error(*workflow);
        if (error != printed.last_errors[workflow->id]) {
            printed.last_errors[workflow->id] = error;
            std::printf("#%u last error: %s\n", workflow->id, error.c_str());
        }
    }
    std::fflush(stdout);
}

void print_config_news(const ConfigWatchNews& news) {
    if (news.unreadable) std::printf("config.tsv changed but cannot be read; the running settings stay\n");
    for (uint32_t id : news.updated) std::printf("#%u overlay settings updated\n", id);
    if (news.unreadable || !news.updated.empty()) std::fflush(stdout);
}

// --all takes every enabled workflow, so that a service can run a whole data
// folder and a disabled workflow is how its operator keeps one out.
bool parse_run_args(AppContext& app, const std::vector<std::string>& args, int64_t* seconds,
                    std::vector<Workflow*>* workflows) {
    bool all = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--seconds") {
            uint64_t number = 0;
            if (i + 1 >= args.size() || !parse_whole(args[++i], 0x7FFFFFFF, &number)) return false;
            *seconds = static_cast<int64_t>(number);
            continue;
        }
        if (args[i] == "--all") {
            all = true;
            continue;
        }
        Workflow* workflow = nullptr;
        if (!parse_id(app, args[i], &workflow)) return false;
        workflows->push_back(workflow);
    }
    if (all) {
        if (!workflows->empty()) return false;  // ids and --all do not mix
        for (const WorkflowPtr& workflow : app.workflows) {
            if (workflow_settings_copy(*workflow).enabled) workflows->push_back(workflow.get());
        }
    }
    return !workflows->empty();
}

bool any_running(const std::vector<Workflow*>& workflows) {
    for (Workflow* workflow : workflows) {
        if (workflow_runner_alive(*workflow)) return true;
    }
    return false;
}

int command_run(AppContext& app, const std::vector<std::string>& args) {
    int64_t seconds = -1;
    std::vector<Workflow*> workflows;
    if (!parse_run_args(app, args, &seconds, &workflows))
        return usage_error("run takes [--seconds N] and workflow ids or --all (of which one must be enabled)");

    StatusQueue queue;
    queue.app = &app;
    run_set_notifier(app, queue_status, &queue);
    stop_request_install();

    Printed printed;
    for (Workflow* workflow : workflows) printed.last_errors[workflow->id] = workflow_last_error(*workflow);
    // Watched from the settings the workflows were loaded with, so an edit
    // saved while they start (a yt-dlp probe can take seconds) still arrives.
    ConfigWatch watch;
    config_watch_start(watch, app.config_path);
    int exit_code = 0;
    for (Workflow* workflow : workflows) {
        if (!workflow_start(*workflow)) {
            std::printf("#%u cannot start: %s\n", workflow->id, workflow_last_error(*workflow).c_str());
            exit_code = EXIT_USAGE;
            break;
        }
    }
    uint64_t deadline = seconds >= 0 ? tick_ms() + static_cast<uint64_t>(seconds) * 1000u : UINT64_MAX;
    // News wakes the loop at once; the tick only bounds how late a stop is
    // seen, so it need not wake the process ten times a second.
    for (uint64_t now = tick_ms(); exit_code == 0 && !stop_request_seen() && now < deadline && any_running(workflows);
         now = tick_ms()) {
        print_news(queue, workflows, printed, static_cast<uint32_t>(std::min<uint64_t>(RUN_TICK_MS, deadline - now)));
        print_config_news(config_watch_poll(watch, workflows));
    }
    for (Workflow* workflow : workflows) {
        // Before any stop, a runner that is gone has ended by itself.
        bool ended_in_error =
            workflow->thread && !workflow_runner_alive(*workflow) && workflow_state(*workflow) == WorkflowState::error;
        if (exit_code == 0 && ended_in_error) exit_code = EXIT_REFUSED;
    }
    for (Workflow* workflow : workflows) workflow_stop(workflow);
    print_news(queue, workflows, printed, 0);
    run_set_notifier(app, nullptr, nullptr);
    stop_request_remove();
    return exit_code;
}

struct CliCommand {
    const char* name;
    int (*run)(AppContext& app, const std::vector<std::string>& args);
};

constexpr CliCommand CLI_COMMANDS[] = {{"list", command_list},     {"add", command_add},     {"edit", command_edit},
                                       {"delete", command_delete}, {"check", command_check}, {"run", command_run}};

}  // namespace

int cli_main(int argc, char** argv, const EngineTable* engines) {
    std::vector<std::string> args(argv + 1, argv + argc);
    StartupOptions options;
    if (args.size() >= 2 && args[0] == "--data-dir") {
        options.data_dir = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return usage_error(nullptr);
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("veltrona-cli %s\n%s\n", VELTRONA_VERSION, VELTRONA_LICENCE_NOTE);
        return 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    const CliCommand* chosen = std::find_if(std::begin(CLI_COMMANDS), std::end(CLI_COMMANDS),
                                            [&](const CliCommand& c) { return command == c.name; });
    if (chosen == std::end(CLI_COMMANDS)) return usage_error("unknown command");

    AppContext app;
    StartupProblem problem = app_startup(app, options);
    if (!problem.text.empty()) {
        std::fprintf(stderr, "%s\n", problem.text.c_str());
        return EXIT_REFUSED;
    }
    app.engines = engines;
    return chosen->run(app, args);
}
