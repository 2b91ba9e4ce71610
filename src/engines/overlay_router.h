// The media chain of the overlay engines, one per run (stream) or per pass
// (loop):
//
//   TsDemuxer -> overlay_demux_router -+-> audio ---------------------------+
//                                      +-> video -> VideoPipeline         |
//                                                   -> packetizer_video_sink +-> FlvPacketizer ->
//                                                   paced_send
//
// The router context joins the pieces: the engine's PublishContext (which
// owns the packetizer and the demuxer), the pipeline, and the engine's error
// buffer, which the pipeline writes into from inside the router's calls.
// Everything runs on the engine's thread; encoded units leave the pipeline
// from inside video_pipeline_feed and video_pipeline_finish.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "engines/engine_contract.h"
#include "engines/publish_context.h"
#include "video/video_pipeline.h"

struct OverlayRouterContext {
    PublishContext* publish = nullptr;
    VideoPipelinePtr pipeline{};
    std::span<char> error;
    // Its status is told once the encoder is open (and again if a later
    // pass opens a different one), so the status names the encoder that
    // really runs. May be null.
    const EngineRun* run = nullptr;
    const char* status_prefix = "";  // e.g. "Overlay publisher streaming"
    std::string encoder_reported{};
    uint64_t frames_out = 0;  // encoded units that left the pipeline
};

// EncodedVideoSink: every encoded unit, unchanged, into the packetizer.
int packetizer_video_sink(void* router, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts);

// The demultiplexer's callback: audio straight to the packetizer, every
// other unit into the pipeline. Empty units have nothing to decode and are
// passed over.
int overlay_demux_router(void* router, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts);

// Creates the packetizer (feeding paced_send), the pipeline (painting
// `settings`, feeding packetizer_video_sink) and the demultiplexer (feeding
// the router). False when any is missing; the pipeline may have written why.
[[nodiscard]] bool overlay_media_start(OverlayRouterContext& router, const OverlaySettings& settings);

// The input has ended cleanly: the demultiplexer's last units go through,
// then the pipeline drains its decoder and encoder. False on any failure.
[[nodiscard]] bool overlay_media_drain(OverlayRouterContext& router);

// Destroys the demultiplexer, the pipeline and the packetizer, in that order.
void overlay_media_stop(OverlayRouterContext& router);
