// Engines for runner, run-control and CLI tests. Each call is recorded, and
// what it does is set per test through fake_engines(): stream until the stop
// event, fail with a text, end well (with or without writing the recording),
// or ignore the stop for a while.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engines/engine_contract.h"

// What a streaming fake tells the run's figures: one segment of this size, this far behind the live edge.
constexpr size_t FAKE_SEGMENT_BYTES = 125000;
constexpr int64_t FAKE_LATENCY_MS = 4000;

enum class FakeBehavior { stream_until_stop, fail, end_with_recording, end_without_recording, ignore_stop };

struct FakeEngineCall {
    std::string engine;  // e.g. "hls_to_rtmp_engine"
    std::string source;  // source URL, MP4 path or recording path
    std::string recording_path;
    bool has_overlay = false;
};

struct FakeEngines {
    FakeBehavior capture = FakeBehavior::stream_until_stop;
    FakeBehavior loop = FakeBehavior::stream_until_stop;
    std::string error_text;
    uint32_t ignore_stop_ms = 0;

    std::mutex lock;
    std::vector<FakeEngineCall> calls;

    void reset();
    std::vector<FakeEngineCall> calls_copy();
    size_t call_count(const std::string& engine);
};

FakeEngines& fake_engines();
const EngineTable& fake_engine_table();
