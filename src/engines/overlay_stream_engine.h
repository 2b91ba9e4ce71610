// Live overlay streaming: a live HLS source published with the picture and
// the ticker drawn in, its untouched segments recorded on the way.
#pragma once

#include <span>
#include <string>

#include "engines/engine_contract.h"
#include "engines/publish_context.h"

struct OverlayStreamOptions {
    std::string source_url;
    std::string output_url;
    std::string recording_path;  // empty: record nothing
    OverlaySettings settings;
    Event* stop_event = nullptr;
    EngineStatusCallback status = nullptr;
    void* status_context = nullptr;
    PacingStats* stats = nullptr;
    EngineHooks hooks;
};

// overlay_stream_engine with every knob: 1 when stopped or when the source
// ended cleanly and everything was drained, else 0 with the reason.
int overlay_stream_run(const OverlayStreamOptions& options, std::span<char> error);
