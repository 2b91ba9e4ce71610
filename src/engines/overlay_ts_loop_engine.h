// The overlay loop: a recorded MPEG-TS file published over and over with the
// picture and the ticker drawn in, one connection and one timeline for all
// passes, until stopped.
#pragma once

#include <span>
#include <string>

#include "engines/engine_contract.h"
#include "engines/publish_context.h"

struct OverlayTsLoopOptions {
    std::string recording_path;
    std::string output_url;
    OverlaySettings settings;
    Event* stop_event = nullptr;
    EngineStatusCallback status = nullptr;
    void* status_context = nullptr;
    PacingStats* stats = nullptr;
    EngineHooks hooks;  // its notice hears of damaged bytes skipped
};

// overlay_ts_loop_engine with every knob; 1 only when stopped, else 0 with the reason.
int overlay_ts_loop_run(const OverlayTsLoopOptions& options, std::span<char> error);
