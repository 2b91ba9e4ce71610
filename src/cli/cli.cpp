// The headless front end. It runs the desktop program's start-up (without
// launcher entries), then one command. `run` prints one line per status
// change, collected through the same notifier the desktop window uses: the
// runner thread snapshots the state and text at the moment it reports, so
// short-lived states (LIVE ENDED, STARTING PLAYBACK) are never missed.
#include "cli/cli.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "engines/engine_contract.h"
#include "run/run_control.h"
#include "workflow/config.h"
#include "workflow/editor_rules.h"
#include "workflow/validate.h"

namespace {

constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

constexpr const char* USAGE =
    "usage: veltrona-cli [--data-dir DIR] list\n"
    "       veltrona-cli [--data-dir DIR] add --type direct|record|overlay|mp4 --name NAME --source SRC --output URL\n"
    "                    [--source-type youtube|direct] [--recording-dir DIR] [--poll-seconds N]\n"
    "                    [--bitrate TEXT] [--image PATH] [--text TEXT] [--encoder TEXT]\n"
    "       veltrona-cli [--data-dir DIR] check ID\n"
    "       veltrona-cli [--data-dir DIR] run [--seconds N] ID...\n";

int usage_error(const char* detail) {
    if (detail) std::fprintf(stderr, "veltrona-cli: %s\n", detail);
    std::fputs(USAGE, stderr);
    return EXIT_USAGE;
}

bool parse_number(const std::string& text, int64_t max, int64_t* value) {
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < 0 || parsed > max) return false;
    *value = parsed;
    return true;
}

bool parse_id(AppContext& app, const std::string& text, Workflow** workflow) {
    int64_t id = 0;
    if (!parse_number(text, 0xFFFFFFFF, &id)) return false;
    *workflow = app_find_workflow(app, static_cast<uint32_t>(id));
    return *workflow != nullptr;
}

// ---- list ----

int command_list(AppContext& app) {
    for (const WorkflowPtr& workflow : app.workflows) {
        WorkflowSettings s = workflow_settings_copy(*workflow);
        std::printf("%u\t%s\t%s\t%s\t%s\t%s\n", workflow->id, s.name.c_str(), workflow_type_list_name(s.type),
                    workflow_source_column(s.type, s.source_type), workflow_state_name(workflow->state.load()),
                    mask_stream_key(s.output_url).c_str());
    }
    return 0;
}

// ---- add ----

bool parse_type(const std::string& text, int32_t* type) {
    static const std::map<std::string, WorkflowType> names = {{"overlay", WorkflowType::overlay_stream},
                                                              {"record", WorkflowType::record_then_push},
                                                              {"direct", WorkflowType::direct_restream},
                                                              {"mp4", WorkflowType::mp4_loop}};
    auto found = names.find(text);
    if (found == names.end()) return false;
    *type = static_cast<int32_t>(found->second);
    return true;
}

// Applies one "--option value" pair; an error text for usage problems.
const char* apply_add_option(WorkflowSettings& s, const std::string& option, const std::string& value) {
    int64_t number = 0;
    if (option == "--type") return parse_type(value, &s.type) ? nullptr : "--type takes direct, record, overlay or mp4";
    if (option == "--name") s.name = utf16_fit(value, NAME_CAPACITY);
    else if (option == "--source") s.source = utf16_fit(value, URL_CAPACITY);
    else if (option == "--output") s.output_url = utf16_fit(value, URL_CAPACITY);
    else if (option == "--recording-dir") s.recording_dir = utf16_fit(value, URL_CAPACITY);
    else if (option == "--bitrate") s.bitrate = utf16_fit(value, BITRATE_CAPACITY);
    else if (option == "--source-type") {
        if (value != "youtube" && value != "direct") return "--source-type takes youtube or direct";
        s.source_type = static_cast<int32_t>(value == "youtube" ? SourceType::youtube : SourceType::direct);
    } else if (option == "--poll-seconds") {
        if (!parse_number(value, 0x7FFFFFFF, &number)) return "--poll-seconds takes a whole number of seconds";
        s.poll_seconds = editor_poll_seconds(static_cast<int32_t>(number));
    } else if (option == "--image") {
        s.image_enabled = 1;
        s.image_path = utf16_fit(value, URL_CAPACITY);
    } else if (option == "--text") {
        s.text_enabled = 1;
        s.text = utf16_fit(value, OVERLAY_TEXT_CAPACITY);
    } else if (option == "--encoder") {
        if (value != "Auto" && value != "Hardware H.264" && value != "Software H.264") {
            return "--encoder takes \"Auto\", \"Hardware H.264\" or \"Software H.264\"";
        }
        s.encoder = value;
    } else {
        return "unknown option for add";
    }
    return nullptr;
}

int command_add(AppContext& app, const std::vector<std::string>& args) {
    if (app.workflows.size() >= MAX_WORKFLOWS) {
        std::fprintf(stderr, "The list already holds %zu workflows.\n", MAX_WORKFLOWS);
        return EXIT_REFUSED;
    }
    WorkflowPtr workflow(workflow_create(app));
    WorkflowSettings s = workflow->settings;
    bool has_type = false, has_name = false, has_source = false, has_output = false;
    for (size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return usage_error("an option of add is missing its value");
        if (const char* problem = apply_add_option(s, args[i], args[i + 1])) return usage_error(problem);
        has_type |= args[i] == "--type";
        has_name |= args[i] == "--name";
        has_source |= args[i] == "--source";
        has_output |= args[i] == "--output";
    }
    if (!has_type || !has_name || !has_source || !has_output) {
        return usage_error("add needs --type, --name, --source and --output");
    }
    if (std::optional<EditorProblem> problem = editor_check(s)) {
        std::fprintf(stderr, "%s: %s\n", problem->title.c_str(), problem->message.c_str());
        --app.next_id;  // the refused record gave its id back
        return EXIT_REFUSED;
    }
    workflow_settings_replace(*workflow, s);
    uint32_t id = workflow->id;
    app.workflows.push_back(std::move(workflow));
    if (!config_save(app)) {
        std::fprintf(stderr, "Could not save %s.\n", app.config_path.c_str());
        return EXIT_REFUSED;
    }
    std::printf("%u\n", id);
    return 0;
}

// ---- check ----

int command_check(AppContext& app, const std::vector<std::string>& args) {
    Workflow* workflow = nullptr;
    if (args.size() != 1) return usage_error("check takes one workflow id");
    if (!parse_id(app, args[0], &workflow)) return usage_error("no workflow has that id");
    std::string message;
    if (!workflow_validate(*workflow, &message)) {
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

volatile std::sig_atomic_t interrupted = 0;

void on_signal(int) { interrupted = 1; }

void queue_status(void* context, uint32_t id) {
    auto* queue = static_cast<StatusQueue*>(context);
    Workflow* workflow = id == TOOL_PROBE_DONE ? nullptr : app_find_workflow(*queue->app, id);
    if (!workflow) return;
    StatusEvent event{id, workflow->state.load(), workflow_current_operation(*workflow)};
    std::lock_guard guard(queue->lock);
    queue->events.push_back(std::move(event));
    queue->changed.notify_one();
}

void print_status(const StatusEvent& event) {
    LocalTime now = local_time_now();
    std::printf("%04u-%02u-%02u %02u:%02u:%02u #%u %s %s\n", now.year, now.month, now.day, now.hour, now.minute,
                now.second, event.id, workflow_state_name(event.state), event.operation.c_str());
}

// Prints queued status lines and last-error changes; waits up to `ms` for news.
void print_news(StatusQueue& queue, const std::vector<Workflow*>& workflows,
                std::map<uint32_t, std::string>& last_errors, uint32_t ms) {
    std::deque<StatusEvent> events;
    {
        std::unique_lock guard(queue.lock);
        queue.changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return !queue.events.empty(); });
        events.swap(queue.events);
    }
    for (const StatusEvent& event : events) print_status(event);
    for (Workflow* workflow : workflows) {
        std::string error = workflow_last_error(*workflow);
        if (error != last_errors[workflow->id]) {
            last_errors[workflow->id] = error;
            std::printf("#%u last error: %s\n", workflow->id, error.c_str());
        }
    }
    std::fflush(stdout);
}

bool parse_run_args(AppContext& app, const std::vector<std::string>& args, int64_t* seconds,
                    std::vector<Workflow*>* workflows) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--seconds") {
            if (i + 1 >= args.size() || !parse_number(args[++i], 0x7FFFFFFF, seconds)) return false;
            continue;
        }
        Workflow* workflow = nullptr;
        if (!parse_id(app, args[i], &workflow)) return false;
        workflows->push_back(workflow);
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
    if (!parse_run_args(app, args, &seconds, &workflows)) return usage_error("run takes [--seconds N] and workflow ids");

    StatusQueue queue;
    queue.app = &app;
    app_set_notifier(app, queue_status, &queue);
    auto old_int = std::signal(SIGINT, on_signal);
    auto old_term = std::signal(SIGTERM, on_signal);
    interrupted = 0;

    std::map<uint32_t, std::string> last_errors;
    for (Workflow* workflow : workflows) last_errors[workflow->id] = workflow_last_error(*workflow);
    int exit_code = 0;
    for (Workflow* workflow : workflows) {
        if (!workflow_start(*workflow)) {
            std::printf("#%u cannot start: %s\n", workflow->id, workflow_last_error(*workflow).c_str());
            exit_code = EXIT_USAGE;
            break;
        }
    }
    uint64_t deadline = seconds >= 0 ? tick_ms() + static_cast<uint64_t>(seconds) * 1000u : UINT64_MAX;
    while (exit_code == 0 && !interrupted && tick_ms() < deadline && any_running(workflows)) {
        print_news(queue, workflows, last_errors, 100);
    }
    for (Workflow* workflow : workflows) {
        // Before any stop, a runner that is gone has ended by itself.
        bool ended_in_error = workflow->thread && !workflow_runner_alive(*workflow) &&
                              workflow_state(*workflow) == WorkflowState::error;
        if (exit_code == 0 && ended_in_error) exit_code = EXIT_REFUSED;
    }
    for (Workflow* workflow : workflows) workflow_stop(workflow);
    print_news(queue, workflows, last_errors, 0);
    app_set_notifier(app, nullptr, nullptr);
    std::signal(SIGINT, old_int);
    std::signal(SIGTERM, old_term);
    return exit_code;
}

}  // namespace

int cli_main(int argc, char** argv, const EngineTable* engines) {
    std::vector<std::string> args(argv + 1, argv + argc);
    StartupOptions options;
    if (args.size() >= 2 && args[0] == "--data-dir") {
        options.data_dir = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return usage_error(nullptr);
    std::string command = args[0];
    args.erase(args.begin());
    if (command != "list" && command != "add" && command != "check" && command != "run") {
        return usage_error("unknown command");
    }

    AppContext app;
    app_startup(app, options);
    if (engines) app.engines = engines;
    if (command == "list") return command_list(app);
    if (command == "add") return command_add(app, args);
    if (command == "check") return command_check(app, args);
    return command_run(app, args);
}
