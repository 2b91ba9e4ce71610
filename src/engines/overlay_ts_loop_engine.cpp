// The overlay loop: a recorded MPEG-TS file published over and over with the
// picture and the ticker drawn in, one connection and one timeline for all
// passes, until stopped. It is the loop engines' shared run (offset =
// highest timestamp sent + 1 at each pass) with a pass of its own:
//
//   open file -> packetizer + pipeline + demuxer -> feed whole packets
//   -> close -> flush the demuxer, drain the pipeline -> destroy the chain
//
// A fresh pipeline and packetizer per pass give every pass a new time base
// and fresh sequence headers (the encoder starts on a key frame). Every pass
// takes the overlay settings as they are at its start, so an edit made
// during one pass is not undone by the next pass's new pipeline.
#include <vector>

#include "engines/engines.h"
#include "engines/overlay_router.h"
#include "engines/publish_loop.h"
#include "engines/ts_file_feed.h"
#include "platform/files/files.h"
#include "platform/text/error_text.h"

namespace {

struct OverlayPass {
    const OverlayTsLoopOptions& options;
    OverlayRouterContext& router;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(TS_LOOP_READ_SIZE);
};

// Feeds the open file through a chain already made, then drains it at the end of the file.
EngineResult stream_file(OverlayRouterContext& router, FILE* file, std::vector<uint8_t>& buffer,
                         std::span<char> error) {
    EngineResult end = ts_file_feed(*router.publish, file, buffer, error);
    if (end == EngineResult::done && !overlay_media_drain(router)) end = EngineResult::failed;
    if (end == EngineResult::done) publish_report_damage(*router.publish);
    if (end == EngineResult::failed) error_set_if_empty(error, "MPEG-TS processing failed");
    return end;
}

EngineResult play_pass(PublishContext& context, void* opaque, std::span<char> error) {
    auto& pass = *static_cast<OverlayPass*>(opaque);
    pass.router.publish = &context;
    FilePtr file(file_open(pass.options.recording_path, "rb"));
    if (!file) {
        error_printf(error, "%s", "TS recording cannot be opened");
        return EngineResult::failed;
    }
    OverlaySettings settings = pass.options.settings;
    if (settings.fetch) settings.fetch(settings.fetch_context, &settings);
    EngineResult end = overlay_media_start(pass.router, settings)
                           ? stream_file(pass.router, file.get(), pass.buffer, error)
                           : EngineResult::failed;
    file.reset();
    overlay_media_stop(pass.router);
    return end;
}

}  // namespace

EngineResult overlay_ts_loop_engine(const OverlayTsLoopOptions& options, const EngineRun& run, std::span<char> error) {
    OverlayRouterContext router{.error = error, .run = &run, .status_prefix = "Overlay TS loop playing"};
    OverlayPass pass{.options = options, .router = router};
    const PublishLoop loop{.output_url = options.output_url,
                           .more_output_urls = options.more_output_urls,
                           .status_text = "Overlay TS loop connected",
                           .empty_pass_text = "recording holds no playable audio or video",
                           .pass = play_pass,
                           .pass_context = &pass};
    return publish_loop_run(loop, run, error);
}
