// The MP4 loop: a local H.264 (+ AAC) MP4 file published over and over on
// one RTMP connection until stopped, each pass continuing the timeline of
// the last. Without overlays the samples are repackaged as they are; with an
// image or text overlay the video goes through the video pipeline and only
// the audio is copied.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engines/engine_contract.h"
#include "engines/publish_context.h"

struct Mp4LoopOptions {
    std::string mp4_path;
    std::string output_url;
    const OverlaySettings* settings = nullptr;  // null, or neither overlay enabled: packet copy
    Event* stop_event = nullptr;
    EngineStatusCallback status = nullptr;
    void* status_context = nullptr;
    uint32_t initial_timestamp = 0;  // where the timeline starts (0 in a normal run)
    PacingStats* stats = nullptr;
};

constexpr const char* MP4_OVERLAY_STATUS = "Looping MP4 with hardware overlays";

// Where an overlay pass tells which encoder opened: the status, with the
// name last reported (so it is told once, not per pass).
struct Mp4EncoderReport {
    EngineStatusCallback status = nullptr;
    void* status_context = nullptr;
    std::string encoder;
};

// mp4_loop_engine with every knob; 1 only when stopped, else 0 with the reason.
[[nodiscard]] int mp4_loop_run(const Mp4LoopOptions& options, std::span<char> error);

// One pass over the file into the context's connection, with a packetizer
// (and, for overlays, a video pipeline) of its own. 1 when the pass reached
// the end of the file or was stopped, 0 on failure with the reason in
// `error`. `report`, when given, learns the encoder of an overlay pass.
[[nodiscard]] int mp4_play_once(const std::string& mp4_path, PublishContext& context, const OverlaySettings* settings,
                                std::span<char> error, Mp4EncoderReport* report = nullptr);
