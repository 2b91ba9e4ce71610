// How engines report back to a workflow: the status callbacks the runner
// hands them, and the overlay snapshot they fetch again after an edit.
// The engines themselves know nothing of Workflow; these adapters are the
// only place where the two meet.
#pragma once

#include <cstdint>
#include <string_view>

#include "engines/engine_contract.h"
#include "workflow/workflow.h"

// Stores the state, sets current_operation (cut to 255 characters) under the
// lock, and notifies the front end when it listens.
void workflow_set_status(Workflow& workflow, WorkflowState state, std::string_view text);
// Status callbacks handed to the engines; `context` is the Workflow.
void on_engine_streaming(void* context, const char* text);
void on_engine_recording(void* context, const char* text);
// on_engine_streaming that also writes the text to the workflow's log: the
// overlay engines report through it which encoder really runs.
void on_engine_streaming_logged(void* context, const char* text);

// The output hook handed to the engines: keeps the output's state for the
// display and logs what is news (output_status_news); when the last
// connected output fails the workflow is RECONNECTING until one is back,
// then in the state it was in before, unless the runner set a state since.
void on_output_status(void* context, const OutputStatus& status);
// The run's outputs are gone (the engine returned): their states too, and
// with `forget_told` (a new run) what their log was told.
void workflow_clear_outputs(Workflow& workflow, bool forget_told = false);

// Fills `settings` from the workflow (under its lock); shaped as an
// OverlaySettingsFetch so engines can fetch again after an edit.
void fill_overlay_settings(void* workflow, OverlaySettings* settings);
