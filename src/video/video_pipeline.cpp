// The pipeline object and its four outside operations; the stages live in
// h264_decoder.cpp, overlay_compositor.cpp and h264_encoder.cpp.
//
// Everything the pipeline owns is held by RAII members, so a stage that
// fails part-way leaves a record that hw_pipeline_free releases whole.
#include <new>

#include "platform/error_text.h"
#include "video/hw_pipeline_state.h"

void video_error(std::span<char> error, const char* text, unsigned long code) {
    error_printf(error, "%s (0x%08lx)", text, code);
}

HwVideoPipeline* hw_pipeline_create(const OverlaySettings& settings, EncodedVideoSink sink, void* sink_context,
                                    std::span<char> error) {
    av_library_log_off();
    auto* pipeline = new (std::nothrow) HwVideoPipeline;
    if (!pipeline) return nullptr;
    pipeline->sink = sink;
    pipeline->sink_context = sink_context;
    overlay_compositor_init(pipeline->overlay, settings);
    if (!hw_decoder_open(*pipeline, error)) {
        hw_pipeline_free(pipeline);
        return nullptr;
    }
    return pipeline;
}

int hw_pipeline_feed(HwVideoPipeline* pipeline, std::span<const uint8_t> unit, int64_t pts, int64_t dts,
                     std::span<char> error) {
    if (!pipeline || unit.empty()) return 0;
    return hw_decoder_feed(*pipeline, unit, pts, dts, error) ? 1 : 0;
}

int hw_pipeline_finish(HwVideoPipeline* pipeline, std::span<char> error) {
    if (!pipeline) return 0;
    if (!hw_decoder_drain(*pipeline, true, error)) return 0;
    return hw_encoder_finish(*pipeline, error) ? 1 : 0;
}

void hw_pipeline_free(HwVideoPipeline* pipeline) {
    delete pipeline;
}

std::string_view hw_pipeline_encoder_name(const HwVideoPipeline* pipeline) {
    return pipeline ? std::string_view(pipeline->encoder.description) : std::string_view();
}
