// What one request to `run --metrics` costs the process: gathering the
// fields of 50 workflows of 4 outputs each (what the status file would hold)
// and making each of the three answers from them.
#include "run/health_export.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "run/status_file.h"

namespace {

constexpr size_t WORKFLOWS = 50, OUTPUTS = 4;

HealthSnapshot busy_snapshot() {
    HealthSnapshot h;
    h.uptime_ms = 3600000, h.input_bitrate = 2600000, h.segments = 1800, h.latency_ms = 4000;
    h.last_segment_age_ms = 800, h.video_codec = "H.264", h.video_profile = "High", h.video_level = 31;
    h.width = 1280, h.height = 720, h.frame_rate = 30, h.key_interval_ms = 2000, h.key_interval_longest_ms = 2000;
    h.audio_codec = "AAC", h.audio_rate = 48000, h.audio_channels = 2, h.av_offset_ms = 21;
    h.recording_file = "/srv/veltrona/recordings/workflow-1-20261208-100000.ts", h.recording_bytes = 1170000000;
    for (size_t n = 1; n <= OUTPUTS; ++n) {
        h.outputs.push_back({.number = n,
                             .state = OutputState::connected,
                             .connected_for_ms = 3590000,
                             .reconnects = 1,
                             .bytes = 1160000000,
                             .bitrate = 2590000,
                             .last_error = "",
                             .queue_messages = 3,
                             .queue_bytes = 24000,
                             .queue_ms = 40,
                             .queue_peak_ms = 120,
                             .lateness_p50_ms = 20,
                             .lateness_p99_ms = 40});
    }
    return h;
}

struct Box {
    std::vector<std::unique_ptr<Workflow>> workflows;
    HealthSnapshot shot = busy_snapshot();
    Box() {
        for (size_t i = 0; i < WORKFLOWS; ++i) {
            auto w = std::make_unique<Workflow>();
            w->id = static_cast<uint32_t>(i + 1);
            w->settings.name = "Channel " + std::to_string(i + 1);
            w->settings.type = WorkflowType::direct_restream;
            w->settings.output_url = "rtmp://ingest.example.com/live/key" + std::to_string(i);
            for (size_t n = 2; n <= OUTPUTS; ++n)
                w->settings.extra_outputs.push_back(
                    {"rtmp://cdn" + std::to_string(n) + ".example.com/app/k" + std::to_string(i), true});
            workflows.push_back(std::move(w));
        }
    }
    std::vector<StatusFields> fields() {
        std::vector<StatusFields> all;
        for (auto& w : workflows) all.push_back(status_fields_parse(status_file_text(*w, &shot, 0)));
        return all;
    }
};

void GatherFields(benchmark::State& state) {
    Box box;
    for (auto _ : state) benchmark::DoNotOptimize(box.fields());
}
BENCHMARK(GatherFields)->Unit(benchmark::kMicrosecond);

void MetricsAnswer(benchmark::State& state) {
    Box box;
    const std::vector<StatusFields> fields = box.fields();
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = prometheus_text(fields, "0.9.0");
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(MetricsAnswer)->Unit(benchmark::kMicrosecond);

void JsonAnswer(benchmark::State& state) {
    Box box;
    const std::vector<StatusFields> fields = box.fields();
    for (auto _ : state) benchmark::DoNotOptimize(workflows_json(fields, "0.9.0"));
}
BENCHMARK(JsonAnswer)->Unit(benchmark::kMicrosecond);

void PageAnswer(benchmark::State& state) {
    Box box;
    const std::vector<StatusFields> fields = box.fields();
    for (auto _ : state) benchmark::DoNotOptimize(status_page_html(fields, "0.9.0", 2));
}
BENCHMARK(PageAnswer)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
