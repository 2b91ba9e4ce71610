// Pass after pass over an MP4 file:
//
//   open + check tracks -> new packetizer [+ video pipeline] -> samples in
//   decode order -> [drain pipeline] -> next pass at highest timestamp + 1
//
// Packet copy: every unit goes straight to the packetizer. Overlay: video
// units go through the pipeline, whose encoded output reaches the same
// packetizer; audio is copied as in packet copy. The pipeline repaints when
// the workflow's overlay revision moves on; each pass starts from the newest
// settings, so an edit made in one pass is not undone by the next.
#include "engines/mp4_loop_engine.h"

#include "engines/engines.h"
#include "engines/mp4_units.h"
#include "engines/publish_loop.h"
#include "platform/error_text.h"

namespace {

bool wants_overlay(const OverlaySettings* settings) {
    return settings && (settings->image_enabled || settings->text_enabled);
}

PassEnd play_units(Mp4UnitSource& source, PublishContext& context, const OverlaySettings* settings,
                   std::span<char> error) {
    if (wants_overlay(settings)) {
        error_printf(error, "%s", "MP4 overlay loop is not available in this build");
        return PassEnd::failed;
    }
    return mp4_source_play(source, flv_packetizer_push, context.packetizer.get(),
                           context.stop_event, error);
}

struct Mp4Pass {
    const std::string& path;
    OverlaySettings settings;  // the newest overlay values, when overlay is on
    bool overlay = false;
};

PassEnd play_pass(PublishContext& context, void* opaque, std::span<char> error) {
    auto& pass = *static_cast<Mp4Pass*>(opaque);
    if (pass.overlay && pass.settings.fetch)
        pass.settings.fetch(pass.settings.fetch_context, &pass.settings);
    if (mp4_play_once(pass.path, context, pass.overlay ? &pass.settings : nullptr, error)) {
        return publish_stopped(context) ? PassEnd::stopped : PassEnd::next;
    }
    return PassEnd::failed;
}

}  // namespace

int mp4_play_once(const std::string& mp4_path, PublishContext& context,
                  const OverlaySettings* settings, std::span<char> error) {
    Mp4UnitSource source;
    if (!mp4_source_open(source, mp4_path, error)) return 0;
    context.packetizer.reset(flv_packetizer_create(paced_send, &context));
    if (!context.packetizer) {
        error_printf(error, "%s", "MP4 packetizer allocation failed");
        return 0;
    }
    PassEnd end = play_units(source, context, settings, error);
    context.packetizer.reset();
    return end != PassEnd::failed || publish_stopped(context) ? 1 : 0;
}

int mp4_loop_run(const Mp4LoopOptions& options, std::span<char> error) {
    const bool overlay = wants_overlay(options.settings);
    Mp4Pass pass{options.mp4_path, overlay ? *options.settings : OverlaySettings{}, overlay};
    PublishLoop loop{
        options.output_url,
        options.stop_event,
        options.status,
        options.status_context,
        overlay ? "Looping MP4 with hardware overlays" : "Looping MP4 without transcoding",
        "MP4 file holds no playable audio or video",
        options.initial_timestamp,
        options.stats,
        play_pass,
        &pass};
    return publish_loop_run(loop, error);
}

int mp4_loop_engine(const std::string& mp4_path, const std::string& output_url,
                    const OverlaySettings* settings, Event* stop_event, EngineStatusCallback status,
                    void* context, std::span<char> error) {
    return mp4_loop_run(
        Mp4LoopOptions{mp4_path, output_url, settings, stop_event, status, context, 0, nullptr},
        error);
}
