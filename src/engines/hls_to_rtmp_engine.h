// Live restreaming: a live HLS source republished to RTMP(S) as it comes,
// without transcoding, its segments recorded byte for byte on the way.
#pragma once

#include <span>
#include <string>

#include "engines/engine_contract.h"
#include "engines/publish_context.h"

struct HlsToRtmpOptions {
    std::string source_url;
    std::string output_url;
    std::string recording_path;  // empty: record nothing
    Event* stop_event = nullptr;
    EngineStatusCallback status = nullptr;
    void* status_context = nullptr;
    PacingStats* stats = nullptr;
    EngineHooks hooks;
};

// hls_to_rtmp_engine with every knob: 1 when stopped or when the source ended
// cleanly, else 0 with the reason.
int hls_to_rtmp_run(const HlsToRtmpOptions& options, std::span<char> error);
