// The TS loop: a recorded MPEG-TS file published over and over on one RTMP
// connection until stopped, each pass continuing the timeline of the last.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engines/engine_contract.h"
#include "engines/publish_context.h"

constexpr size_t TS_LOOP_READ_SIZE = 192512;  // 1024 transport packets

struct TsLoopOptions {
    std::string recording_path;
    std::string output_url;
    Event* stop_event = nullptr;
    EngineStatusCallback status = nullptr;
    void* status_context = nullptr;
    // Where the timeline starts (0 in a normal run), so long-run behaviour
    // can be reached without waiting hours for it.
    int64_t initial_timestamp = 0;
    PacingStats* stats = nullptr;
    EngineHooks hooks;
};

// ts_loop_publisher with every knob; 1 only when stopped, else 0 with the reason.
int ts_loop_run(const TsLoopOptions& options, std::span<char> error);
