// The MP4 loop: a local H.264 (+ AAC) MP4 file published over and over on
// one RTMP connection until stopped, each pass continuing the timeline of
// the last. Without overlays the samples are repackaged as they are; with an
// image or text overlay the video goes through the video pipeline and only
// the audio is copied.
//
//   open + check tracks -> new packetizer [+ video pipeline] -> samples in
//   decode order -> [drain pipeline] -> next pass at highest timestamp + 1
//
// Packet copy: every unit goes straight to the packetizer. Overlay: video
// units go through the pipeline, whose encoded output reaches the same
// packetizer; audio is copied as in packet copy. The pipeline repaints when
// the workflow's overlay revision moves on; each pass starts from the newest
// settings, so an edit made in one pass is not undone by the next.
#include <memory>
#include <utility>

#include "engines/engines.h"
#include "engines/mp4_units.h"
#include "engines/publish_loop.h"
#include "platform/text/error_text.h"
#include "platform/text/text.h"
#include "video/video_pipeline.h"

namespace {

constexpr const char* MP4_OVERLAY_STATUS = "Looping MP4 with hardware overlays";

// Where an overlay pass tells which encoder opened: the run's status, with
// the name last reported (so it is told once, not per pass).
struct Mp4EncoderReport {
    const EngineRun* run = nullptr;
    std::string encoder;
};

// Where the units of an overlay pass go: audio to the packetizer, video into
// the pipeline, whose output reaches the same packetizer.
struct OverlayRoute {
    PublishContext& context;
    VideoPipeline* pipeline;
    std::span<char> error;
    Mp4EncoderReport* report;
};

// Names the encoder in the status once it is open (and again if a later
// pass opens another), so the status tells which encoder really runs.
void report_encoder(OverlayRoute& route) {
    if (!route.report || !route.report->run) return;
    std::string_view name = video_pipeline_encoder_name(route.pipeline);
    if (name.empty() || name == route.report->encoder) return;
    route.report->encoder = std::string(name);
    std::string text = string_printf("%s; video encoder: %s", MP4_OVERLAY_STATUS, route.report->encoder.c_str());
    engine_status(*route.report->run, text.c_str());
}

int route_unit(void* opaque, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    auto& route = *static_cast<OverlayRoute*>(opaque);
    if (kind == ES_AUDIO) return flv_packetizer_push(route.context.packetizer.get(), kind, data, pts, dts);
    if (!video_pipeline_feed(route.pipeline, data, pts, dts, route.error)) return 0;
    report_encoder(route);
    return 1;
}

// The overlay pass: a pipeline of its own, drained at the end of the file
// (not after a stop or a failure).
EngineResult play_through_pipeline(Mp4UnitSource& source, PublishContext& context, const OverlaySettings& settings,
                                   Mp4EncoderReport* report, std::span<char> error) {
    VideoPipelinePtr pipeline(video_pipeline_create(settings, flv_packetizer_push, context.packetizer.get(), error));
    if (!pipeline) return EngineResult::failed;
    OverlayRoute route{context, pipeline.get(), error, report};
    EngineResult end = mp4_source_play(source, route_unit, &route, context.pacer.stop_event, error);
    if (end != EngineResult::done || publish_stopped(context)) return end;
    if (!video_pipeline_finish(pipeline.get(), error)) return EngineResult::failed;
    report_encoder(route);
    return EngineResult::done;
}

bool wants_overlay(const OverlaySettings* settings) {
    return settings && (settings->image_enabled || settings->text_enabled);
}

EngineResult play_units(Mp4UnitSource& source, PublishContext& context, const OverlaySettings* settings,
                        Mp4EncoderReport* report, std::span<char> error) {
    if (wants_overlay(settings)) return play_through_pipeline(source, context, *settings, report, error);
    return mp4_source_play(source, flv_packetizer_push, context.packetizer.get(), context.pacer.stop_event, error);
}

struct Mp4Pass {
    const std::string& path;
    OverlaySettings settings;  // the newest overlay values, when overlay is on
    bool overlay = false;
    Mp4EncoderReport report;
};

// The workflow's current overlay values, under the same revision counter
// and fetch hooks (a fetch that fills only the values keeps them).
void refresh(OverlaySettings& settings) {
    OverlaySettings fresh;
    settings.fetch(settings.fetch_context, &fresh);
    fresh.revision = settings.revision;
    fresh.fetch = settings.fetch;
    fresh.fetch_context = settings.fetch_context;
    settings = std::move(fresh);
}

// One pass over the file into the context's connection, with a packetizer
// (and, for overlays, a video pipeline) of its own: done at the end of the
// file, stopped, or failed with the reason.
EngineResult play_once(const std::string& mp4_path, PublishContext& context, const OverlaySettings* settings,
                       std::span<char> error, Mp4EncoderReport* report) {
    Mp4UnitSource source;
    if (!mp4_source_open(source, mp4_path, error)) return EngineResult::failed;
    context.packetizer.reset(flv_packetizer_create(paced_send, &context));
    if (!context.packetizer) {
        error_printf(error, "%s", "MP4 packetizer allocation failed");
        return EngineResult::failed;
    }
    EngineResult end = play_units(source, context, settings, report, error);
    context.packetizer.reset();
    if (end == EngineResult::failed) return publish_failure(context);
    return publish_stopped(context) ? EngineResult::stopped : end;
}

EngineResult play_pass(PublishContext& context, void* opaque, std::span<char> error) {
    auto& pass = *static_cast<Mp4Pass*>(opaque);
    if (pass.overlay && pass.settings.fetch) refresh(pass.settings);
    return play_once(pass.path, context, pass.overlay ? &pass.settings : nullptr, error, &pass.report);
}

}  // namespace

EngineResult mp4_loop_engine(const Mp4LoopOptions& options, const EngineRun& run, std::span<char> error) {
    const bool overlay = wants_overlay(options.settings);
    Mp4Pass pass{.path = options.mp4_path,
                 .settings = overlay ? *options.settings : OverlaySettings{},
                 .overlay = overlay,
                 .report = {.run = &run, .encoder = {}}};
    const PublishLoop loop{.output_url = options.output_url,
                           .more_output_urls = options.more_output_urls,
                           .status_text = overlay ? MP4_OVERLAY_STATUS : "Looping MP4 without transcoding",
                           .empty_pass_text = "MP4 file holds no playable audio or video",
                           .pass = play_pass,
                           .pass_context = &pass};
    return publish_loop_run(loop, run, error);
}
