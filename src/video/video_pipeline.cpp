// The pipeline object and its four outside operations; the stages live in
// h264_decoder.cpp, overlay_compositor.cpp and h264_encoder.cpp.
//
// Everything the pipeline owns is held by RAII members, so a stage that
// fails part-way leaves a record that video_pipeline_free releases whole.
#include <new>

#include "platform/text/error_text.h"
#include "video/video_pipeline_state.h"

void video_error(std::span<char> error, const char* text, int av_result) {
    char library_text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_make_error_string(library_text, sizeof library_text, av_result);
    error_printf(error, "%s: %s (0x%08lx)", text, library_text,
                 static_cast<unsigned long>(static_cast<uint32_t>(av_result)));
}

VideoPipeline* video_pipeline_create(const OverlaySettings& settings, EncodedVideoSink sink, void* sink_context,
                                     std::span<char> error) {
    av_library_log_off();
    auto* pipeline = new (std::nothrow) VideoPipeline;
    if (!pipeline) return nullptr;
    pipeline->sink = sink;
    pipeline->sink_context = sink_context;
    overlay_compositor_init(pipeline->overlay, settings);
    if (!h264_decoder_open(*pipeline, error)) {
        video_pipeline_free(pipeline);
        return nullptr;
    }
    return pipeline;
}

int video_pipeline_feed(VideoPipeline* pipeline, std::span<const uint8_t> unit, int64_t pts, int64_t dts,
                        std::span<char> error) {
    if (!pipeline || unit.empty()) return 0;
    return h264_decoder_feed(*pipeline, unit, pts, dts, error) ? 1 : 0;
}

int video_pipeline_finish(VideoPipeline* pipeline, std::span<char> error) {
    if (!pipeline) return 0;
    if (!h264_decoder_drain(*pipeline, true, error)) return 0;
    return h264_encoder_finish(*pipeline, error) ? 1 : 0;
}

void video_pipeline_free(VideoPipeline* pipeline) {
    delete pipeline;
}

std::string_view video_pipeline_encoder_name(const VideoPipeline* pipeline) {
    return pipeline ? std::string_view(pipeline->encoder.description) : std::string_view();
}
