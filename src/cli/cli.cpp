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
#include <optional>
#include <string>
#include <vector>

#include "app/config_watch.h"
#include "app/startup.h"
#include "app/version.h"
#include "cli/metrics_server.h"
#include "cli/workflow_options.h"
#include "engines/engine_contract.h"
#include "platform/files/file_lock.h"
#include "platform/process/stop_request.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "run/run_control.h"
#include "run/runner.h"
#include "run/status_file.h"
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
    "       veltrona-cli [--data-dir DIR] run [--seconds N] [--stats N]\n"
    "                    [--metrics [ADDRESS:]PORT [--metrics-token TOKEN]] ID...|--all\n"
    "       veltrona-cli [--data-dir DIR] status [ID]\n"
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

// ---- status ----

std::string duration_text(double ms) {
    const auto total = static_cast<uint64_t>(ms / 1000);
    if (total >= 3600)
        return string_printf("%lluh%02llum", (unsigned long long)(total / 3600), (unsigned long long)(total / 60 % 60));
    return string_printf("%llum%02llus", (unsigned long long)(total / 60), (unsigned long long)(total % 60));
}

void print_source(const StatusFigures& f) {
    std::printf("  source: %s, %s segments, %s failed, last %s, behind the live edge %s, %s retries\n",
                megabits_text(f.number("source.bitrate_bps")).c_str(), f.text("source.segments").c_str(),
                f.text("source.segment_failures").c_str(),
                f.known("source.last_segment_age_ms")
                    ? (seconds_text(f.number("source.last_segment_age_ms")) + " ago").c_str()
                    : "none yet",
                f.known("source.latency_ms") ? seconds_text(f.number("source.latency_ms")).c_str() : "unknown",
                f.text("source.retries").c_str());
}

void print_media(const StatusFigures& f) {
    if (!f.text("video.codec").empty()) {
        std::string key = f.known("video.key_interval_ms") && f.number("video.key_interval_ms") > 0
                              ? string_printf("key frames every %.2f s (longest %.2f s in 60 s)",
                                              f.number("video.key_interval_ms") / 1000,
                                              f.number("video.key_interval_longest_ms") / 1000)
                              : std::string("no key-frame interval yet");
        std::printf("  video: %s %s %s, %sx%s, %.2f fps, %s\n", f.text("video.codec").c_str(),
                    f.text("video.profile").c_str(), f.text("video.level").c_str(), f.text("video.width").c_str(),
                    f.text("video.height").c_str(), f.number("video.frame_rate"), key.c_str());
    }
    if (!f.text("audio.codec").empty()) {
        std::printf("  audio: %s, %s Hz, %s channels, audio/video offset %s ms\n", f.text("audio.codec").c_str(),
                    f.text("audio.sample_rate").c_str(), f.text("audio.channels").c_str(),
                    f.text("media.av_offset_ms").c_str());
    }
}

void print_outputs(const StatusFigures& f) {
    for (size_t n : status_output_numbers(f.fields)) {
        const std::string at = "output." + std::to_string(n) + ".";
        std::string up = f.known(at + "connected_for_ms")
                             ? "connected " + duration_text(f.number(at + "connected_for_ms"))
                             : "not connected";
        std::printf(
            "  output %zu: %s %s, %s, %s sent, %s, %s reconnects, queue %s messages %s ms (peak %s ms),"
            " lateness p50 %s ms p99 %s ms\n",
            n, f.text(at + "state").c_str(), f.text(at + "url").c_str(),
            megabits_text(f.number(at + "bitrate_bps")).c_str(), megabytes_text(f.number(at + "bytes")).c_str(),
            up.c_str(), f.text(at + "reconnects").c_str(), f.text(at + "queue_messages").c_str(),
            f.text(at + "queue_ms").c_str(), f.text(at + "queue_peak_ms").c_str(),
            f.known(at + "lateness_p50_ms") ? f.text(at + "lateness_p50_ms").c_str() : "-",
            f.known(at + "lateness_p99_ms") ? f.text(at + "lateness_p99_ms").c_str() : "-");
        if (!f.text(at + "last_error").empty()) std::printf("    last error: %s\n", f.text(at + "last_error").c_str());
    }
}

void print_figures(const StatusFields& fields) {
    const StatusFigures f{fields};
    std::printf("#%s %s: %s, %s, up %s (pid %s)\n", f.text("id").c_str(), f.text("name").c_str(),
                f.text("state").c_str(), f.text("operation").c_str(), duration_text(f.number("uptime_ms")).c_str(),
                f.text("pid").c_str());
    if (!f.text("last_error").empty()) std::printf("  last error: %s\n", f.text("last_error").c_str());
    if (f.text("uptime_ms").empty()) return;  // the run has no figures yet
    print_source(f);
    print_media(f);
    print_outputs(f);
    if (!f.text("recording.file").empty()) {
        std::printf("  recording: %s, %s, %s write failures\n", f.text("recording.file").c_str(),
                    megabytes_text(f.number("recording.bytes")).c_str(), f.text("recording.write_failures").c_str());
    }
    if (!f.text("encoder.name").empty()) {
        std::printf("  encoder: %s, %s frames, %.2f ms per frame\n", f.text("encoder.name").c_str(),
                    f.text("encoder.frames").c_str(), f.number("encoder.ms_per_frame"));
    }
}

int command_status(AppContext& app, const std::vector<std::string>& args) {
    Workflow* asked = nullptr;
    if (args.size() > 1 || (args.size() == 1 && !parse_id(app, args[0], &asked))) {
        return usage_error("status takes one workflow id, or none for every workflow");
    }
    size_t shown = 0;
    for (const WorkflowPtr& workflow : app.workflows) {
        if (asked && workflow.get() != asked) continue;
        if (std::optional<StatusFields> fields = status_file_read_live(app, workflow->id)) {
            print_figures(*fields);
            ++shown;
        } else if (asked) {
            std::printf("Workflow %u is not running in a veltrona-cli run.\n", workflow->id);
            return EXIT_REFUSED;
        }
    }
    if (shown == 0) std::printf("No workflow of this data folder is running in a veltrona-cli run.\n");
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
    std::printf("%s ", local_time_text(local_time_now()).c_str());
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

// "#1 STREAMING in 2.51 Mb/s out 2.49 Mb/s ..." for --stats.
void print_stats_line(Workflow& workflow) {
    const StatusFields fields = workflow_status_fields(workflow);
    const StatusFigures f{fields};
    size_t up = 0;
    double out = 0, late = -1, queue = 0;
    const std::vector<size_t> numbers = status_output_numbers(fields);
    const size_t count = numbers.size();
    for (size_t n : numbers) {
        const std::string at = "output." + std::to_string(n) + ".";
        up += f.text(at + "state") == "CONNECTED" ? 1 : 0;
        out += f.number(at + "bitrate_bps");
        late = std::max(late, f.number(at + "lateness_p99_ms"));
        queue = std::max(queue, f.number(at + "queue_ms"));
    }
    print_time();
    std::printf(
        "#%u %s in %s out %s outputs %zu/%zu up, %sx%s %.2f fps, key %s, behind %s, queue %.0f ms, late p99 %s\n",
        workflow.id, f.text("state").c_str(), megabits_text(f.number("source.bitrate_bps")).c_str(),
        megabits_text(out).c_str(), up, count, f.text("video.width").c_str(), f.text("video.height").c_str(),
        f.number("video.frame_rate"),
        f.known("video.key_interval_ms") ? seconds_text(f.number("video.key_interval_ms")).c_str() : "-",
        f.known("source.latency_ms") ? seconds_text(f.number("source.latency_ms")).c_str() : "-", queue,
        late >= 0 ? string_printf("%.0f ms", late).c_str() : "-");
}

struct RunOptions {
    int64_t seconds = -1;
    uint64_t stats_s = 0;
    std::optional<MetricsAddress> metrics;
    std::string metrics_token;
    std::vector<Workflow*> workflows;
};

// An option's value into `value`; false when the arguments end first.
bool option_value(const std::vector<std::string>& args, size_t* at, std::string* value) {
    if (*at + 1 >= args.size()) return false;
    *value = args[++*at];
    return true;
}

bool parse_run_option(const std::vector<std::string>& args, size_t* at, RunOptions* options, std::string* error) {
    const std::string& option = args[*at];
    std::string value;
    if (!option_value(args, at, &value)) return *error = option + " needs a value", false;
    if (option == "--stats") {
        constexpr uint64_t STATS_MOST_S = 86400;
        return parse_whole(value, STATS_MOST_S, &options->stats_s) && options->stats_s > 0;
    }
    if (option == "--seconds") {
        uint64_t number = 0;
        if (!parse_whole(value, 0x7FFFFFFF, &number)) return false;
        options->seconds = static_cast<int64_t>(number);
        return true;
    }
    if (option == "--metrics-token") return options->metrics_token = value, !value.empty();
    MetricsAddress address;
    if (!metrics_address_parse(value, &address, error)) return false;
    options->metrics = address;
    return true;
}

// --all takes every enabled workflow, so that a service can run a whole data
// folder and a disabled workflow is how its operator keeps one out.
bool parse_run_args(AppContext& app, const std::vector<std::string>& args, RunOptions* options, std::string* error) {
    bool all = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--stats" || args[i] == "--seconds" || args[i] == "--metrics" || args[i] == "--metrics-token") {
            if (!parse_run_option(args, &i, options, error)) return false;
            continue;
        }
        if (args[i] == "--all") {
            all = true;
            continue;
        }
        Workflow* workflow = nullptr;
        if (!parse_id(app, args[i], &workflow)) return false;
        options->workflows.push_back(workflow);
    }
    if (all) {
        if (!options->workflows.empty()) return false;  // ids and --all do not mix
        for (const WorkflowPtr& workflow : app.workflows) {
            if (workflow_settings_copy(*workflow).enabled) options->workflows.push_back(workflow.get());
        }
    }
    if (!options->metrics && !options->metrics_token.empty())
        return *error = "--metrics-token goes with --metrics", false;
    if (options->metrics_token.empty()) {
        const char* from_environment = std::getenv("VELTRONA_METRICS_TOKEN");
        if (from_environment) options->metrics_token = from_environment;
    }
    return !options->workflows.empty();
}

// The endpoint of --metrics, serving the figures of the run's workflows; null
// (after telling why) when it cannot serve, and then the run does not start.
MetricsServerPtr start_metrics(const RunOptions& options, bool* failed) {
    if (!options.metrics) return nullptr;
    const std::vector<Workflow*> workflows = options.workflows;  // the run's, alive until it returns
    auto source = [workflows] {
        std::vector<StatusFields> fields;
        for (Workflow* workflow : workflows) fields.push_back(workflow_status_fields(*workflow));
        return fields;
    };
    std::string error;
    uint16_t port = 0;
    MetricsServerPtr server =
        metrics_server_start(*options.metrics, options.metrics_token, source, VELTRONA_VERSION, &port, &error);
    if (!server) {
        std::fprintf(stderr, "veltrona-cli: %s\n", error.c_str());
        *failed = true;
        return nullptr;
    }
    const std::string& host = options.metrics->host;
    const bool v6 = host.find(':') != std::string::npos;
    std::printf("Metrics at http://%s%s%s:%u/metrics, status page at /\n", v6 ? "[" : "", host.c_str(), v6 ? "]" : "",
                port);
    std::fflush(stdout);
    return server;
}

bool any_running(const std::vector<Workflow*>& workflows) {
    for (Workflow* workflow : workflows) {
        if (workflow_runner_alive(*workflow)) return true;
    }
    return false;
}

// What the run shows besides its status lines: the status files, each
// second, and with --stats a summary line per workflow every N seconds.
struct RunFigures {
    uint64_t stats_ms = 0;  // 0: no summary lines
    uint64_t next_file_ms = 0, next_stats_ms = 0;
};

void show_figures(RunFigures& figures, const std::vector<Workflow*>& workflows, uint64_t now) {
    if (now >= figures.next_file_ms) {
        for (Workflow* workflow : workflows) (void)status_file_write(*workflow);  // best effort: the run goes on
        figures.next_file_ms = now + STATUS_FILE_PERIOD_MS;
    }
    if (figures.stats_ms == 0 || now < figures.next_stats_ms) return;
    for (Workflow* workflow : workflows) print_stats_line(*workflow);
    std::fflush(stdout);
    figures.next_stats_ms = now + figures.stats_ms;
}

int command_run(AppContext& app, const std::vector<std::string>& args) {
    RunOptions options;
    std::string error;
    if (!parse_run_args(app, args, &options, &error)) {
        if (!error.empty()) return usage_error(error.c_str());
        return usage_error(
            "run takes [--seconds N], [--stats N], [--metrics [ADDRESS:]PORT [--metrics-token TOKEN]] and workflow "
            "ids or --all (of which one must be enabled)");
    }
    const int64_t seconds = options.seconds;
    const std::vector<Workflow*>& workflows = options.workflows;
    RunFigures figures{.stats_ms = options.stats_s * 1000};
    bool metrics_failed = false;
    MetricsServerPtr metrics = start_metrics(options, &metrics_failed);
    if (metrics_failed) return EXIT_USAGE;

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
    figures.next_stats_ms = tick_ms() + figures.stats_ms;
    // News wakes the loop at once; the tick only bounds how late a stop is
    // seen, so it need not wake the process ten times a second.
    for (uint64_t now = tick_ms(); exit_code == 0 && !stop_request_seen() && now < deadline && any_running(workflows);
         now = tick_ms()) {
        print_news(queue, workflows, printed, static_cast<uint32_t>(std::min<uint64_t>(RUN_TICK_MS, deadline - now)));
        print_config_news(config_watch_poll(watch, workflows));
        show_figures(figures, workflows, tick_ms());
    }
    for (Workflow* workflow : workflows) {
        // Before any stop, a runner that is gone has ended by itself.
        bool ended_in_error =
            workflow->thread && !workflow_runner_alive(*workflow) && workflow_state(*workflow) == WorkflowState::error;
        if (exit_code == 0 && ended_in_error) exit_code = EXIT_REFUSED;
    }
    metrics.reset();  // it reads the workflows: gone before they stop
    for (Workflow* workflow : workflows) workflow_stop(workflow);
    for (Workflow* workflow : workflows) status_file_remove(*workflow);
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
                                       {"delete", command_delete}, {"check", command_check}, {"run", command_run},
                                       {"status", command_status}};

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
