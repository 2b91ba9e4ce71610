// Sample records: settings, state, operation and a run time counted back
// from now.
#include "ui/presentation/samples.h"

#include <algorithm>
#include <iterator>
#include <mutex>

#include "platform/time/clock.h"
#include "run/engine_status.h"

namespace {

struct Sample {
    const char* name;
    WorkflowType type;
    SourceType source_type;
    WorkflowState state;
    const char* operation;
    uint64_t seconds;
};

constexpr Sample SAMPLES[] = {
    {"Main stage restream", WorkflowType::direct_restream, SourceType::youtube, WorkflowState::streaming, "Streaming",
     25 * 60 + 7},
    {"Night show archive", WorkflowType::record_then_push, SourceType::youtube, WorkflowState::recording,
     "Recording live stream", 12 * 60 + 48},
    {"Sponsor loop", WorkflowType::mp4_loop, SourceType::direct, WorkflowState::error, "Retrying in 3 seconds", 95},
    {"Overlay backup", WorkflowType::overlay_stream, SourceType::direct, WorkflowState::stopped, "Stopped", 0},
};

constexpr size_t SAMPLE_COUNT = std::size(SAMPLES);

Workflow& add_sample(AppContext& app, const Sample& sample, const SamplePaths& paths) {
    Workflow& workflow = *app.workflows.emplace_back(workflow_create(app));
    WorkflowSettings s = workflow_settings_copy(workflow);
    s.name = sample.name;
    s.type = sample.type;
    s.source_type = sample.source_type;
    s.source = sample.type == WorkflowType::mp4_loop ? paths.mp4 : "https://www.youtube.com/watch?v=abc123";
    s.output_url = "rtmps://live.example.com:443/app/secret-stream-key";
    s.extra_outputs = {{"rtmp://backup.example.net/live/second-stream-key", true},
                       {"rtmps://social.example.org/rtmp/third-stream-key", true}};
    s.image_enabled = true;
    s.image_path = paths.image;
    s.recording_dir = paths.recordings;
    s.text_enabled = true;
    s.text = "Live from the main stage";
    s.text_color = 0x00D7FF;
    workflow_settings_replace(workflow, s);
    workflow_set_status(workflow, sample.state, sample.operation);
    // A young monotonic clock (a fresh machine) cannot go back that far.
    const uint64_t now = tick_ms();
    const uint64_t seconds = std::min<uint64_t>(sample.seconds, now / 1000 > 1 ? now / 1000 - 1 : 0);
    if (seconds != 0) workflow.start_tick.store(now - seconds * 1000);
    return workflow;
}

}  // namespace

void add_picture_samples(AppContext& app, const SamplePaths& paths) {
    for (const Sample& sample : SAMPLES) add_sample(app, sample, paths);
    workflow_set_last_error(*app.workflows[app.workflows.size() - 2], "RTMP connect failed: connection refused");
    // The streaming sample's outputs: the second trying again, the others sending.
    Workflow& streaming = *app.workflows[app.workflows.size() - SAMPLE_COUNT];
    const uint64_t since = streaming.start_tick.load(), now = tick_ms();
    const uint64_t retried = now > 9000 ? now - 9000 : now;
    std::lock_guard guard(streaming.lock);
    streaming.outputs = {{1, OutputState::connected, since, ""},
                         {2, OutputState::reconnecting, retried, "connection refused"},
                         {3, OutputState::connected, since, ""}};
}

Workflow& add_editor_sample(AppContext& app, WorkflowType type, const SamplePaths& paths) {
    Sample sample = SAMPLES[0];
    sample.name = "Evening show";
    sample.type = type;
    return add_sample(app, sample, paths);
}

const char* editor_picture_name(WorkflowType type) {
    switch (type) {
        case WorkflowType::overlay_stream:
            return "editor-overlay";
        case WorkflowType::record_then_push:
            return "editor-record-push";
        case WorkflowType::mp4_loop:
            return "editor-mp4-loop";
        default:
            return "editor-direct";
    }
}
