// Workflow records: creation with defaults, display names, and the locked
// copies through which threads share settings and texts.
#include "workflow/workflow.h"

#include <utility>

#include "platform/text/text.h"

Workflow* workflow_create(WorkflowList& list) {
    auto* workflow = new Workflow();
    workflow->id = list.next_id;
    // Saturate rather than wrap to 0: only a hand-edited list gets this far.
    if (list.next_id != UINT32_MAX) ++list.next_id;
    workflow->context = list.context;
    workflow->settings.recording_dir = utf16_fit(list.recordings_dir, URL_CAPACITY);
    return workflow;
}

bool path_fits(std::string_view path) {
    return utf16_length(path) < PATH_CAPACITY;
}

const char* workflow_state_name(uint32_t state) {
    static constexpr const char* names[] = {"STOPPED",   "STARTING",     "RESOLVING",         "WAITING",
                                            "RECORDING", "LIVE ENDED",   "STARTING PLAYBACK", "PLAYING",
                                            "STREAMING", "RECONNECTING", "COMPLETED",         "ERROR"};
    return state < std::size(names) ? names[state] : "UNKNOWN";
}

const char* workflow_type_list_name(WorkflowType type) {
    switch (type) {
        case WorkflowType::overlay_stream:
            return "Overlay";
        case WorkflowType::record_then_push:
            return "Record/Push";
        case WorkflowType::mp4_loop:
            return "MP4 Loop";
        default:
            return "Direct";
    }
}

const char* workflow_type_editor_name(WorkflowType type) {
    switch (type) {
        case WorkflowType::overlay_stream:
            return "Overlay + Stream";
        case WorkflowType::record_then_push:
            return "Record then Push";
        case WorkflowType::mp4_loop:
            return "MP4 File - Loop Stream";
        default:
            return "Direct Restream";
    }
}

const char* workflow_source_column(WorkflowType type, SourceType source_type) {
    if (type == WorkflowType::mp4_loop) return "MP4 File";
    return source_type == SourceType::youtube ? "YouTube" : "Direct";
}

std::vector<std::string> workflow_more_output_urls(const WorkflowSettings& settings) {
    std::vector<std::string> urls;
    for (const ExtraOutput& extra : settings.extra_outputs) {
        if (extra.enabled) urls.push_back(extra.url);
    }
    return urls;
}

std::vector<size_t> workflow_output_places(const WorkflowSettings& settings) {
    std::vector<size_t> places{1};
    for (size_t at = 0; at < settings.extra_outputs.size(); ++at) {
        if (settings.extra_outputs[at].enabled) places.push_back(at + 2);
    }
    return places;
}

std::string_view workflow_output_url(const WorkflowSettings& settings, size_t number) {
    if (number == 1) return settings.output_url;
    if (number >= 2 && number - 2 < settings.extra_outputs.size()) return settings.extra_outputs[number - 2].url;
    return {};
}

bool output_status_news(OutputTold& told, const OutputStatus& status) {
    const std::optional<OutputState> before = std::exchange(told.state, status.state);
    switch (status.state) {
        case OutputState::connected:
            told.error.clear(), told.retry_told = false;
            return before != OutputState::connected;
        case OutputState::reconnecting:
            if (before && before != OutputState::connected && status.last_error == told.error) return false;
            told.error = status.last_error, told.retry_told = false;
            return true;
        default:
            if (before == OutputState::connecting || told.retry_told) return false;
            told.retry_told = before.has_value();
            return true;
    }
}

std::vector<OutputStatus> workflow_output_statuses(Workflow& workflow) {
    std::lock_guard guard(workflow.lock);
    return workflow.outputs;
}

WorkflowSettings workflow_settings_copy(Workflow& workflow) {
    std::lock_guard guard(workflow.lock);
    return workflow.settings;
}

void workflow_settings_replace(Workflow& workflow, const WorkflowSettings& settings) {
    std::lock_guard guard(workflow.lock);
    workflow.settings = settings;
}

std::string workflow_current_operation(Workflow& workflow) {
    std::lock_guard guard(workflow.lock);
    return workflow.current_operation;
}

std::string workflow_last_error(Workflow& workflow) {
    std::lock_guard guard(workflow.lock);
    return workflow.last_error;
}

void workflow_set_last_error(Workflow& workflow, std::string_view text) {
    std::string fitted = utf16_fit(text, LAST_ERROR_CAPACITY);
    std::lock_guard guard(workflow.lock);
    workflow.last_error = std::move(fitted);
}

WorkflowState workflow_state(const Workflow& workflow) {
    return static_cast<WorkflowState>(workflow.state.load());
}
