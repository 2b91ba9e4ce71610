// The overlay loop is the loop engines' shared run (one connection, pass
// after pass on one timeline, offset = highest timestamp sent + 1) with a
// pass of its own:
//
//   open file -> packetizer + pipeline + demuxer -> feed whole packets
//   -> close -> flush the demuxer, drain the pipeline -> destroy the chain
//
// A fresh pipeline and packetizer per pass give every pass a new time base
// and fresh sequence headers (the encoder starts on a key frame). Every pass
// takes the overlay settings as they are at its start, so an edit made
// during one pass is not undone by the next pass's new pipeline.
#include "engines/overlay_ts_loop_engine.h"

#include <vector>

#include "engines/engines.h"
#include "engines/overlay_router.h"
#include "engines/publish_loop.h"
#include "engines/ts_file_feed.h"
#include "engines/ts_loop_publisher.h"
#include "platform/error_text.h"
#include "platform/files.h"

namespace {

struct OverlayPass {
    explicit OverlayPass(const OverlayTsLoopOptions& loop_options) : options(loop_options) {}
    const OverlayTsLoopOptions& options;
    OverlayRouterContext router;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(TS_LOOP_READ_SIZE);
};

// Feeds the open file through a chain already made, then drains it at the end of the file.
PassEnd stream_file(OverlayRouterContext& router, FILE* file, std::vector<uint8_t>& buffer, std::span<char> error) {
    PassEnd end = ts_file_feed(*router.publish, file, buffer, error);
    if (end == PassEnd::next && !overlay_media_drain(router)) end = PassEnd::failed;
    if (end == PassEnd::next) publish_report_damage(*router.publish);
    if (end == PassEnd::failed) error_set_if_empty(error, "MPEG-TS processing failed");
    return end;
}

PassEnd play_pass(PublishContext& context, void* opaque, std::span<char> error) {
    auto& pass = *static_cast<OverlayPass*>(opaque);
    pass.router.publish = &context;
    FilePtr file(file_open(pass.options.recording_path, "rb"));
    if (!file) {
        error_printf(error, "%s", "TS recording cannot be opened");
        return PassEnd::failed;
    }
    OverlaySettings settings = pass.options.settings;
    if (settings.fetch) settings.fetch(settings.fetch_context, &settings);
    PassEnd end = overlay_media_start(pass.router, settings) ? stream_file(pass.router, file.get(), pass.buffer, error)
                                                             : PassEnd::failed;
    file.reset();
    overlay_media_stop(pass.router);
    return end;
}

}  // namespace

int overlay_ts_loop_run(const OverlayTsLoopOptions& options, std::span<char> error) {
    OverlayPass pass(options);
    pass.router.error = error;
    pass.router.status = options.status;
    pass.router.status_context = options.status_context;
    pass.router.status_prefix = "Overlay TS loop playing";
    PublishLoop loop{options.output_url,
                     options.stop_event,
                     options.status,
                     options.status_context,
                     "Overlay TS loop connected",
                     "recording holds no playable audio or video",
                     0,
                     options.stats,
                     play_pass,
                     &pass,
                     options.hooks.notice,
                     options.hooks.context};
    return publish_loop_run(loop, error);
}

int overlay_ts_loop_engine(const std::string& recording_path, const std::string& output_url,
                           const OverlaySettings& settings, Event* stop_event, EngineStatusCallback status,
                           void* context, const EngineHooks& hooks, std::span<char> error) {
    return overlay_ts_loop_run(
        OverlayTsLoopOptions{recording_path, output_url, settings, stop_event, status, context, nullptr, hooks}, error);
}
