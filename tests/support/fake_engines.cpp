// Scripted engines; every wait is bounded (30 s) so a broken stop cannot hang a test.
#include "support/fake_engines.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/error_text.h"

namespace {

constexpr uint32_t MAX_STREAM_MS = 30000;

int act(const FakeEngineCall& call, bool loop, Event* stop, EngineStatusCallback status, void* context,
        std::span<char> error) {
    FakeEngines& fakes = fake_engines();
    std::unique_lock guard(fakes.lock);
    fakes.calls.push_back(call);
    guard.unlock();
    switch (loop ? fakes.loop : fakes.capture) {
        case FakeBehavior::stream_until_stop:
            status(context, "Fake engine working");
            (void)event_wait_ms(stop, MAX_STREAM_MS);
            return 1;
        case FakeBehavior::fail:
            error_printf(error, "%s", fakes.error_text.c_str());
            return 0;
        case FakeBehavior::end_with_recording:
            std::ofstream(call.recording_path, std::ios::binary) << "recorded bytes";
            return 1;
        case FakeBehavior::end_without_recording:
            return 1;
        case FakeBehavior::ignore_stop:
            status(context, "Fake engine deaf to stop");
            std::this_thread::sleep_for(std::chrono::milliseconds(fakes.ignore_stop_ms));
            status(context, "Fake engine ending late");
            return 1;
    }
    return 0;
}

using Status = EngineStatusCallback;
using Hooks = EngineHooks;
using Text = std::string;

int fake_overlay_stream(const Text& source, const Text&, const Text& recording, const OverlaySettings&, Event* stop,
                        Status status, void* context, const Hooks&, std::span<char> error) {
    return act({"overlay_stream_engine", source, recording, true}, false, stop, status, context, error);
}
int fake_hls_to_rtmp(const Text& source, const Text&, const Text& recording, Event* stop, Status status, void* context,
                     const Hooks&, std::span<char> error) {
    return act({"hls_to_rtmp_engine", source, recording, false}, false, stop, status, context, error);
}
int fake_hls_to_ts(const Text& source, const Text& recording, Event* stop, Status status, void* context, const Hooks&,
                   std::span<char> error) {
    return act({"hls_to_ts_recorder", source, recording, false}, false, stop, status, context, error);
}
int fake_mp4_loop(const Text& path, const Text&, const OverlaySettings* overlay, Event* stop, Status status,
                  void* context, std::span<char> error) {
    return act({"mp4_loop_engine", path, "", overlay != nullptr}, true, stop, status, context, error);
}
int fake_overlay_ts_loop(const Text& recording, const Text&, const OverlaySettings&, Event* stop, Status status,
                         void* context, const Hooks&, std::span<char> error) {
    return act({"overlay_ts_loop_engine", recording, recording, true}, true, stop, status, context, error);
}
int fake_ts_loop(const Text& recording, const Text&, Event* stop, Status status, void* context, const Hooks&,
                 std::span<char> error) {
    return act({"ts_loop_publisher", recording, recording, false}, true, stop, status, context, error);
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
    static const EngineTable table{fake_overlay_stream, fake_hls_to_rtmp,     fake_hls_to_ts,
                                   fake_mp4_loop,       fake_overlay_ts_loop, fake_ts_loop};
    return table;
}
