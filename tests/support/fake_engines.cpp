// Scripted engines; every wait is bounded (30 s) so a broken stop cannot hang a test.
#include "support/fake_engines.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "engines/health.h"
#include "platform/text/error_text.h"
#include "platform/time/clock.h"

namespace {

constexpr uint32_t MAX_STREAM_MS = 30000;

EngineResult act(const FakeEngineCall& call, bool loop, const EngineRun& run, std::span<char> error) {
    FakeEngines& fakes = fake_engines();
    std::unique_lock guard(fakes.lock);
    fakes.calls.push_back(call);
    guard.unlock();
    switch (loop ? fakes.loop : fakes.capture) {
        case FakeBehavior::stream_until_stop:
            engine_status(run, "Fake engine working");
            health_source_segment(run.health, tick_ms(), FAKE_SEGMENT_BYTES, FAKE_LATENCY_MS, nullptr, 0);
            (void)event_wait_ms(run.stop_event, MAX_STREAM_MS);
            return EngineResult::stopped;
        case FakeBehavior::fail:
            error_printf(error, "%s", fakes.error_text.c_str());
            return EngineResult::failed;
        case FakeBehavior::end_with_recording:
            std::ofstream(call.recording_path, std::ios::binary) << "recorded bytes";
            return EngineResult::done;
        case FakeBehavior::end_without_recording:
            return EngineResult::done;
        case FakeBehavior::ignore_stop:
            engine_status(run, "Fake engine deaf to stop");
            std::this_thread::sleep_for(std::chrono::milliseconds(fakes.ignore_stop_ms));
            engine_status(run, "Fake engine ending late");
            return EngineResult::stopped;
    }
    return EngineResult::failed;
}

using Run = EngineRun;
using Error = std::span<char>;

EngineResult fake_overlay_stream(const OverlayStreamOptions& o, const Run& run, Error error) {
    return act({"overlay_stream_engine", o.source_url, o.recording_path, true}, false, run, error);
}
EngineResult fake_hls_to_rtmp(const HlsToRtmpOptions& o, const Run& run, Error error) {
    return act({"hls_to_rtmp_engine", o.source_url, o.recording_path, false}, false, run, error);
}
EngineResult fake_hls_to_ts(const HlsToTsOptions& o, const Run& run, Error error) {
    return act({"hls_to_ts_recorder", o.source_url, o.recording_path, false}, false, run, error);
}
EngineResult fake_mp4_loop(const Mp4LoopOptions& o, const Run& run, Error error) {
    return act({"mp4_loop_engine", o.mp4_path, "", o.settings != nullptr}, true, run, error);
}
EngineResult fake_overlay_ts_loop(const OverlayTsLoopOptions& o, const Run& run, Error error) {
    return act({"overlay_ts_loop_engine", o.recording_path, o.recording_path, true}, true, run, error);
}
EngineResult fake_ts_loop(const TsLoopOptions& o, const Run& run, Error error) {
    return act({"ts_loop_publisher", o.recording_path, o.recording_path, false}, true, run, error);
}

}  // namespace

void FakeEngines::reset() {
    std::lock_guard guard(lock);
    capture = loop = FakeBehavior::stream_until_stop;
    error_text.clear();
    ignore_stop_ms = 0;
    calls.clear();
}

std::vector<FakeEngineCall> FakeEngines::calls_copy() {
    std::lock_guard guard(lock);
    return calls;
}

size_t FakeEngines::call_count(const std::string& engine) {
    std::lock_guard guard(lock);
    return std::count_if(calls.begin(), calls.end(), [&](const FakeEngineCall& call) { return call.engine == engine; });
}

FakeEngines& fake_engines() {
    static FakeEngines engines;
    return engines;
}

const EngineTable& fake_engine_table() {
    static const EngineTable table{
        .overlay_stream_engine = fake_overlay_stream,
        .hls_to_rtmp_engine = fake_hls_to_rtmp,
        .hls_to_ts_recorder = fake_hls_to_ts,
        .mp4_loop_engine = fake_mp4_loop,
        .overlay_ts_loop_engine = fake_overlay_ts_loop,
        .ts_loop_publisher = fake_ts_loop,
    };
    return table;
}
