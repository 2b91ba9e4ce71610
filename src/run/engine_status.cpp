// Status reporting for runners and engines, and the overlay snapshot.
#include "run/engine_status.h"

#include <algorithm>
#include <optional>

#include "engines/health.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "run/run_context.h"
#include "run/workflow_log.h"
#include "workflow/validate.h"

namespace {

// Under the workflow's lock: the state, its text and a new serial.
void store_status(Workflow& workflow, WorkflowState state, std::string_view text) {
    workflow.state.exchange(static_cast<uint32_t>(state));
    workflow.current_operation = utf16_fit(text, OPERATION_CAPACITY);
    ++workflow.status_serial;
}

// Under the lock: keeps the output's status and moves the run into or out of
// the RECONNECTING that the last connected output failing puts it in (an
// output still making its first attempt is no failure).
void note_output(Workflow& workflow, const OutputStatus& status) {
    auto at = std::find_if(workflow.outputs.begin(), workflow.outputs.end(),
                           [&](const OutputStatus& output) { return output.number >= status.number; });
    if (at == workflow.outputs.end() || at->number != status.number) at = workflow.outputs.insert(at, status);
    *at = status;
    const auto connected = static_cast<size_t>(
        std::count_if(workflow.outputs.begin(), workflow.outputs.end(),
                      [](const OutputStatus& output) { return output.state == OutputState::connected; }));
    const WorkflowState now = workflow_state(workflow);
    const bool failed = status.state == OutputState::reconnecting;
    if (failed && connected == 0 && (now == WorkflowState::streaming || now == WorkflowState::playing)) {
        workflow.outputs_phase = now;
        store_status(workflow, WorkflowState::reconnecting, "Every output is reconnecting");
        workflow.outputs_reconnecting_serial = workflow.status_serial;
        return;
    }
    // Only the RECONNECTING set above ends here: one the runner set since
    // (a source retry) is the runner's to end.
    if (connected == 0 || workflow.outputs_reconnecting_serial != workflow.status_serial) return;
    workflow.outputs_reconnecting_serial = 0;
    store_status(workflow, workflow.outputs_phase,
                 string_printf("Outputs connected: %zu of %zu", connected, workflow.outputs.size()));
}

}  // namespace

void workflow_set_status(Workflow& workflow, WorkflowState state, std::string_view text) {
    {
        std::lock_guard guard(workflow.lock);
        store_status(workflow, state, text);
    }
    if (workflow.context) run_notify(*workflow.context, workflow.id);
}

void on_engine_streaming(void* context, const char* text) {
    workflow_set_status(*static_cast<Workflow*>(context), WorkflowState::streaming, text ? text : "");
}

void on_engine_streaming_logged(void* context, const char* text) {
    on_engine_streaming(context, text);
    log_workflow(*static_cast<Workflow*>(context), "%s", text ? text : "");
}

void on_engine_recording(void* context, const char* text) {
    workflow_set_status(*static_cast<Workflow*>(context), WorkflowState::recording, text ? text : "");
}

void on_output_status(void* context, const OutputStatus& status) {
    auto& workflow = *static_cast<Workflow*>(context);
    bool news = false;
    {
        std::lock_guard guard(workflow.lock);
        note_output(workflow, status);
        news = output_status_news(workflow.outputs_told[status.number], status);
    }
    if (news) {
        const bool failed = status.state == OutputState::reconnecting;
        log_workflow(workflow, "Output %zu %s%s%s", status.number, output_state_name(status.state), failed ? " " : "",
                     failed ? status.last_error.c_str() : "");
    }
    if (workflow.context) run_notify(*workflow.context, workflow.id);
}

void workflow_clear_outputs(Workflow& workflow, bool forget_told) {
    std::lock_guard guard(workflow.lock);
    workflow.outputs.clear();
    workflow.outputs_reconnecting_serial = 0;
    if (forget_told) workflow.outputs_told.clear();
    health_outputs_closed(workflow.health.get(), tick_ms());
}

void fill_overlay_settings(void* context, OverlaySettings* settings) {
    auto& workflow = *static_cast<Workflow*>(context);
    // Read before the values: an edit racing this fill at worst costs one more fetch.
    const uint32_t revision = workflow.revision.load();
    std::lock_guard guard(workflow.lock);
    const WorkflowSettings& s = workflow.settings;
    *settings = OverlaySettings{};
    settings->revision_value = revision;
    settings->image_enabled = s.image_enabled ? 1 : 0;
    settings->image_path = s.image_path;
    settings->image_x_pct = s.image_x_pct;
    settings->image_y_pct = s.image_y_pct;
    settings->image_scale_pct = s.image_scale_pct;
    settings->text_enabled = s.text_enabled ? 1 : 0;
    settings->text = s.text;
    settings->text_bottom_pct = s.text_bottom_pct;
    settings->font_size = s.font_size;
    settings->scroll_speed = s.scroll_speed;
    settings->text_color = s.text_color;
    settings->background_color = s.background_color;
    settings->bitrate = parse_bitrate(s.bitrate);
    settings->encoder = s.encoder;
    settings->revision = &workflow.revision;
    settings->fetch = fill_overlay_settings;
    settings->fetch_context = &workflow;
}
