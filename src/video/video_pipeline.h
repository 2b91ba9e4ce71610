// The video pipeline: H.264 access units in, overlaid H.264 access units out.
//
//   Annex B unit -> decoder -> frame (4:2:0) -> compositor (picture, ticker)
//                -> encoder (hardware when one opens, else libx264) -> sink
//
// One pipeline per engine run, driven on the engine's thread. The engine
// feeds every video unit in decode order; encoded units reach the sink from
// inside video_pipeline_feed and video_pipeline_finish, possibly during a later
// call than the one that fed them. Audio never enters the pipeline.
//
// Every failure writes one message into the caller's error buffer (where a
// library call failed: its words and its result as a 32-bit value, as
// "<what failed>: <library text> (0x%08lx)") and returns 0; the pipeline
// stays freeable.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "media/es_unit.h"
#include "video/overlay_settings.h"

struct VideoPipeline;

// Receives each encoded access unit: kind ES_VIDEO, Annex B bytes valid only
// during the call, 90 kHz PTS and DTS (equal: the encoder makes no B-frames).
// The time is the decoded frame's presentation time, so units leave in
// increasing time even when the source had B-frames; it steps back only
// where the input's did (a loop restart), and such a unit is a key frame.
// Every key frame carries SPS and PPS in band.
// Nonzero means accepted; 0 fails the feed or finish that produced it.
using EncodedVideoSink = EsUnitCallback;

// A pipeline that paints `settings` (copied; the caller may discard it) and
// hands its output to `sink`. Null on failure, with the reason in `error`.
[[nodiscard]] VideoPipeline* video_pipeline_create(const OverlaySettings& settings, EncodedVideoSink sink,
                                                   void* sink_context, std::span<char> error);

// Decodes one access unit, paints and encodes every frame it yields, and
// passes on what the encoder has finished so far. `pts`/`dts` are 90 kHz,
// negative when absent (callers pass the PTS as DTS when there is none).
[[nodiscard]] int video_pipeline_feed(VideoPipeline* pipeline, std::span<const uint8_t> unit, int64_t pts, int64_t dts,
                                      std::span<char> error);

// The input has ended: drains the decoder and the encoder into the sink.
[[nodiscard]] int video_pipeline_finish(VideoPipeline* pipeline, std::span<char> error);

// Releases everything; accepts null.
void video_pipeline_free(VideoPipeline* pipeline);

struct VideoPipelineFree {
    void operator()(VideoPipeline* pipeline) const { video_pipeline_free(pipeline); }
};
using VideoPipelinePtr = std::unique_ptr<VideoPipeline, VideoPipelineFree>;

// The encoder that opened, as the engines log it after "Video encoder: ":
// "libx264 (software)" or e.g. "h264_nvenc (hardware)". Empty until the
// first decoded frame has set the encoder up (and for null); valid while the
// pipeline lives. An engine checks it after each successful feed and logs
// it once when it turns non-empty.
[[nodiscard]] std::string_view video_pipeline_encoder_name(const VideoPipeline* pipeline);
