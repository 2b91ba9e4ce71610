// Cell texts, details, confirmations and saves of the main window.
#include "ui/presentation/main_view.h"

#include <array>

#include "app/version.h"
#include "platform/files/file_lock.h"
#include "platform/text/text.h"
#include "run/run_control.h"
#include "run/runner.h"
#include "ui/presentation/health_view.h"
#include "workflow/check_messages.h"
#include "workflow/config.h"
#include "workflow/validate.h"

namespace {

constexpr std::array<ListColumn, 5> COLUMNS = {
    {{"Name", 240}, {"Type", 130}, {"Source", 100}, {"Status", 150}, {"Runtime", 110}}};

constexpr std::array<MainButton, 6> BUTTONS = {{{MainCommand::add, 103, "Add", 12, 88, false},
                                                {MainCommand::edit, 104, "Edit", 108, 88, false},
                                                {MainCommand::remove, 105, "Delete", 204, 88, false},
                                                {MainCommand::start, 106, "Start", 320, 96, true},
                                                {MainCommand::stop, 107, "Stop", 424, 96, false},
                                                {MainCommand::restart, 108, "Restart", 528, 96, false}}};

std::string masked(std::string_view url) {
    return utf16_fit(mask_stream_key(url), URL_CAPACITY);
}

// "Output 2: rtmp://host/app/******** RECONNECTING for 00:00:09 (connection refused)"
std::string output_line(const WorkflowSettings& settings, const OutputStatus& output, uint64_t now_tick) {
    const std::string url = masked(workflow_output_url(settings, output.number));
    std::string line = string_printf("Output %zu: ", output.number) + url + (url.empty() ? "" : " ") +
                       output_state_name(output.state) + " for " + format_runtime(output.since_ms, now_tick);
    return output.last_error.empty() ? line : line + " (" + output.last_error + ")";
}

// The health lines of a run in progress; "" while none runs.
std::string health_block(Workflow& workflow, uint64_t now_tick) {
    std::shared_ptr<const WorkflowHealth> health = workflow_health(workflow);
    if (!health) return {};
    return health_details_text(health_snapshot(*health, now_tick), workflow.settings);
}

}  // namespace

std::span<const ListColumn> list_columns() {
    return COLUMNS;
}

std::span<const MainButton> main_buttons() {
    return BUTTONS;
}

std::string about_text() {
    return std::string("Veltrona ") + VELTRONA_VERSION + "\n" + VELTRONA_LICENCE_NOTE;
}

std::string format_runtime(uint64_t start_tick, uint64_t now_tick) {
    return clock_duration_text((start_tick != 0 && now_tick > start_tick) ? (now_tick - start_tick) / 1000 : 0);
}

std::string list_cell_text(const Workflow& workflow, size_t column, uint64_t now_tick) {
    const WorkflowSettings& settings = workflow.settings;  // only the UI thread writes them
    switch (column) {
        case 0:
            return settings.name;
        case 1:
            return workflow_type_list_name(settings.type);
        case 2:
            return workflow_source_column(settings.type, settings.source_type);
        case 3:
            return workflow_state_name(workflow.state.load());
        default:
            return format_runtime(workflow.start_tick.load(), now_tick);
    }
}

bool workflow_is_idle(uint32_t state) {
    return state == static_cast<uint32_t>(WorkflowState::stopped) ||
           state == static_cast<uint32_t>(WorkflowState::completed) ||
           state == static_cast<uint32_t>(WorkflowState::error);
}

std::string workflow_details_text(Workflow& workflow, uint64_t now_tick) {
    const std::string operation = workflow_current_operation(workflow);
    const std::string error = workflow_last_error(workflow);
    const WorkflowSettings& settings = workflow.settings;  // only the UI thread writes them
    const uint32_t state = workflow.state.load();
    std::string text = "Current operation: " + operation + "\nSource: " + settings.source +
                       "\nOutput: " + masked(settings.output_url) + "\nPID: " + std::to_string(workflow.process_id) +
                       "\nStatus: " + workflow_state_name(state) + "\nLast error: " + error;
    if (workflow_is_idle(state)) return text;
    for (const OutputStatus& output : workflow_output_statuses(workflow)) {
        if (output.number == 0) continue;  // not reported yet
        text += '\n';
        text += output_line(settings, output, now_tick);
    }
    return text + health_block(workflow, now_tick);
}

bool delete_refused(AppContext& app, Workflow& workflow) {
    // A workflow a veltrona-cli run holds is as active as one of our own.
    return !workflow_is_idle(workflow.state.load()) || file_lock_held(run_lock_path(app, workflow.id));
}

size_t close_questions(const AppContext& app) {
    // Asked once per active workflow, not once in all: users of the earlier
    // program know this dialog sequence, and any No keeps everything running.
    size_t count = 0;
    for (const WorkflowPtr& workflow : app.workflows) count += workflow_is_idle(workflow->state.load()) ? 0 : 1;
    return count;
}

uint32_t view_add_workflow(AppContext& app, const WorkflowSettings& settings, std::string* error) {
    uint32_t id = 0;
    // The saved record takes the next id of the file, not the draft's.
    (void)config_update(
        app,
        [&](WorkflowList& saved) {
            if (saved.workflows.size() >= MAX_WORKFLOWS) return false;
            Workflow* added = saved.workflows.emplace_back(workflow_create(saved)).get();
            workflow_settings_replace(*added, settings);
            id = added->id;
            return true;
        },
        error);
    return id;
}

EditSaved view_save_edit(AppContext& app, Workflow& workflow, std::string* error) {
    workflow.revision.fetch_add(1);
    const uint32_t id = workflow.id;
    const WorkflowSettings settings = workflow_settings_copy(workflow);
    bool gone = false;
    const bool saved_ok = config_update(
        app,
        [&](WorkflowList& saved) {
            Workflow* held = app_find_workflow(saved, id);
            gone = held == nullptr;
            if (held) workflow_settings_replace(*held, settings);
            return !gone;
        },
        error);
    // Another program's delete stands; the next reload takes the row away.
    if (gone) return EditSaved::deleted_elsewhere;
    return saved_ok ? EditSaved::saved : EditSaved::failed;
}

bool view_delete_workflow(AppContext& app, uint32_t id, std::string* error) {
    // Saving drops the record from the table too (destroying it stops it first).
    return config_update(
        app,
        [id](WorkflowList& saved) {
            std::erase_if(saved.workflows, [id](const WorkflowPtr& held) { return held->id == id; });
            return true;
        },
        error);
}

void view_reload_if_changed(AppContext& app, ConfigWatch& watch) {
    if (!config_watch_changed(watch)) return;
    std::string ignored;  // an unreadable file keeps the list as shown; the next save says why
    (void)config_reload(app, &ignored);
}

int view_row_of(const AppContext& app, uint32_t id) {
    for (size_t row = 0; row < app.workflows.size(); ++row) {
        if (app.workflows[row]->id == id) return static_cast<int>(row);
    }
    return -1;
}

std::string player_url(const Workflow& workflow, std::string* refusal) {
    const std::string& output = workflow.settings.output_url;
    if (url_check(output, false, true)) return output;
    if (refusal) *refusal = check_message::output_invalid;
    return {};
}
