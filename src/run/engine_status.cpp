// Status reporting for runners and engines, and the overlay snapshot.
#include "run/engine_status.h"

#include <optional>

#include "engines/health.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "run/run_context.h"
#include "run/workflow_log.h"
#include "workflow/validate.h"

void workflow_set_status(Workflow& workflow, WorkflowState state, std::string_view text) {
    workflow.state.exchange(static_cast<uint32_t>(state));
    std::string fitted = utf16_fit(text, OPERATION_CAPACITY);
    {
        std::lock_guard guard(workflow.lock);
        workflow.current_operation = std::move(fitted);
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
    log_workflow(workflow, "Output %zu %s %s", status.number, output_state_name(status.state),
                 status.state == OutputState::connected ? "" : status.last_error.c_str());
    size_t connected = 0;
    std::optional<WorkflowState> next;
    {
        std::lock_guard guard(workflow.lock);
        if (workflow.outputs.size() < status.number) workflow.outputs.resize(status.number);
        workflow.outputs[status.number - 1] = status;
        for (const OutputStatus& output : workflow.outputs) connected += output.state == OutputState::connected;
        const WorkflowState now = workflow_state(workflow);
        if (connected == 0 && (now == WorkflowState::streaming || now == WorkflowState::playing)) {
            workflow.outputs_phase = now;
            next = WorkflowState::reconnecting;
        } else if (connected > 0 && now == WorkflowState::reconnecting) {
            next = workflow.outputs_phase;
        }
    }
    if (next == WorkflowState::reconnecting) {
        workflow_set_status(workflow, *next, "Every output is reconnecting");
    } else if (next) {
        workflow_set_status(workflow, *next,
                            string_printf("Outputs connected: %zu of %zu", connected, workflow.outputs.size()));
    } else if (workflow.context) {
        run_notify(*workflow.context, workflow.id);
    }
}

void workflow_clear_outputs(Workflow& workflow) {
    std::lock_guard guard(workflow.lock);
    workflow.outputs.clear();
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
