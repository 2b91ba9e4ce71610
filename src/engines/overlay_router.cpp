// Routing between the demultiplexer, the video pipeline and the packetizer.
#include "engines/overlay_router.h"

#include <chrono>

#include "platform/text/text.h"

namespace {

OverlayRouterContext& router_of(void* opaque) {
    return *static_cast<OverlayRouterContext*>(opaque);
}

void report_encoder(OverlayRouterContext& router) {
    std::string_view name = video_pipeline_encoder_name(router.pipeline.get());
    if (name.empty() || name == router.encoder_reported) return;
    router.encoder_reported = std::string(name);
    health_encoder_name(router.publish->health, name);
    if (!router.run) return;
    std::string text = string_printf("%s; video encoder: %s", router.status_prefix, router.encoder_reported.c_str());
    engine_status(*router.run, text.c_str());
}

}  // namespace

int packetizer_video_sink(void* opaque, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    OverlayRouterContext& router = router_of(opaque);
    ++router.frames_out;
    return flv_packetizer_push(router.publish->packetizer.get(), kind, data, pts, dts);
}

int overlay_demux_router(void* opaque, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    OverlayRouterContext& router = router_of(opaque);
    if (kind == ES_AUDIO) return flv_packetizer_push(router.publish->packetizer.get(), kind, data, pts, dts);
    if (data.empty()) return 1;
    // The time per frame counts decoding and painting too: the pipeline does
    // all three in one call, and all three are what a frame costs.
    const auto began = std::chrono::steady_clock::now();
    const uint64_t frames_before = router.frames_out;
    const bool fed = video_pipeline_feed(router.pipeline.get(), data, pts, dts, router.error);
    const auto busy = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began);
    health_encoder_busy(router.publish->health, router.frames_out - frames_before, static_cast<uint64_t>(busy.count()));
    if (!fed) return 0;
    report_encoder(router);
    return 1;
}

bool overlay_media_start(OverlayRouterContext& router, const OverlaySettings& settings) {
    PublishContext& publish = *router.publish;
    publish.demuxer.reset();
    publish.packetizer.reset(flv_packetizer_create(paced_send, &publish));
    if (!publish.packetizer) return false;
    router.pipeline.reset(video_pipeline_create(settings, packetizer_video_sink, &router, router.error));
    if (!router.pipeline) return false;
    publish.demuxer.reset(ts_demuxer_create(overlay_demux_router, &router));
    return publish.demuxer != nullptr;
}

bool overlay_media_drain(OverlayRouterContext& router) {
    if (!ts_demuxer_flush(router.publish->demuxer.get())) return false;
    if (!video_pipeline_finish(router.pipeline.get(), router.error)) return false;
    report_encoder(router);
    return true;
}

void overlay_media_stop(OverlayRouterContext& router) {
    router.publish->demuxer.reset();
    router.pipeline.reset();
    router.publish->packetizer.reset();
}
