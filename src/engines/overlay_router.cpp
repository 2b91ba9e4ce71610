// Routing between the demultiplexer, the video pipeline and the packetizer.
#include "engines/overlay_router.h"

#include "platform/text/text.h"

namespace {

OverlayRouterContext& router_of(void* opaque) {
    return *static_cast<OverlayRouterContext*>(opaque);
}

void report_encoder(OverlayRouterContext& router) {
    std::string_view name = video_pipeline_encoder_name(router.pipeline.get());
    if (name.empty() || name == router.encoder_reported) return;
    router.encoder_reported = std::string(name);
    if (!router.run) return;
    std::string text = string_printf("%s; video encoder: %s", router.status_prefix, router.encoder_reported.c_str());
    engine_status(*router.run, text.c_str());
}

}  // namespace

int packetizer_video_sink(void* opaque, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    return flv_packetizer_push(router_of(opaque).publish->packetizer.get(), kind, data, pts, dts);
}

int overlay_demux_router(void* opaque, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    OverlayRouterContext& router = router_of(opaque);
    if (kind == ES_AUDIO) return flv_packetizer_push(router.publish->packetizer.get(), kind, data, pts, dts);
    if (data.empty()) return 1;
    if (!video_pipeline_feed(router.pipeline.get(), data, pts, dts, router.error)) return 0;
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
