// Inside the video pipeline: the record the four outside operations share
// and the calls between its stages. Only src/video/ and its tests include it.
//
// Timestamps enter in 90 kHz units and travel inside in 100 ns units (the
// decoder and encoder time base is 1/10,000,000), so the ticker's clock and
// the key-frame clock both read media time.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "video/av_handles.h"
#include "video/overlay_compositor.h"
#include "video/video_pipeline.h"

constexpr int64_t TIME_UNITS_PER_SECOND = 10000000;  // 100 ns

struct H264Decoder {
    AvCodecContextPtr context;
    AvPacketPtr packet;
    AvFramePtr frame;
};

// What the encoder takes: its size and rate are fixed at set-up (from the
// first decoded frame); later frames of another size are scaled to it.
struct H264Encoder {
    AvCodecContextPtr context;
    AvBufferPtr device;         // hardware device, for encoders that need one
    AvFramePtr canvas;          // 4:2:0 planar at the encoder's size: painted here
    AvFramePtr converted;       // the canvas in the encoder's own layout, when it differs
    AvFramePtr hardware_frame;  // upload target for encoders that take device frames
    SwsContextPtr fit;          // decoded frame -> canvas when size or format differ
    SwsContextPtr convert;      // canvas -> converted
    AvPacketPtr packet;
    std::vector<uint8_t> rewritten;  // the output in Annex B form, as handed on
    std::string description;         // e.g. "libx264 (software)"; empty until set up
    int64_t last_key_time = -1;      // media time of the last forced key frame
    int64_t last_frame_time = -1;    // media time of the frame before
};

struct VideoPipeline {
    H264Decoder decoder;
    H264Encoder encoder;
    OverlayCompositor overlay;
    uint32_t frame_width = 0;
    uint32_t frame_height = 0;
    uint32_t stride = 0;
    uint32_t rate_num = 30;
    uint32_t rate_den = 1;
    int64_t last_input_timestamp = -1;      // 90 kHz
    int64_t input_frame_duration = 333333;  // 100 ns
    // Since the last decoded picture (or the first unit): the first unit's
    // media time (100 ns; -1 right after a picture), the units fed, and the
    // decoder's last complaint about one of them.
    int64_t undecoded_since = -1;
    uint32_t undecoded_units = 0;
    int last_decode_error = 0;
    uint32_t encoder_ready = 0;
    EncodedVideoSink sink = nullptr;
    void* sink_context = nullptr;
};

// Our text, the library's own words for `av_result` and the result as a
// 32-bit value: "<text>: <library text> (0x%08lx)".
void video_error(std::span<char> error, const char* text, int av_result);

// Decoder stage.
[[nodiscard]] bool h264_decoder_open(VideoPipeline& pipeline, std::span<char> error);
[[nodiscard]] bool h264_decoder_feed(VideoPipeline& pipeline, std::span<const uint8_t> unit, int64_t pts, int64_t dts,
                                     std::span<char> error);
// Passes every frame the decoder has ready to the encoder stage; with
// `at_end`, first tells the decoder that no more input comes.
[[nodiscard]] bool h264_decoder_drain(VideoPipeline& pipeline, bool at_end, std::span<char> error);

// Encoder stage.
[[nodiscard]] bool h264_encode_frame(VideoPipeline& pipeline, const AVFrame& decoded, std::span<char> error);
[[nodiscard]] bool h264_encoder_finish(VideoPipeline& pipeline, std::span<char> error);
