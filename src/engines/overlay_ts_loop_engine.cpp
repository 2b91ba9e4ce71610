// Pass after pass over the recording, each with a chain of its own:
//
//   open file -> packetizer + pipeline + demuxer -> feed whole packets
//   -> close -> flush the demuxer, drain the pipeline -> destroy the chain
//   -> next pass with timestamp_offset = highest timestamp sent + 1
//
// A fresh pipeline and packetizer per pass give every pass a new time base
// and fresh sequence headers (the encoder starts on a key frame); the one
// publisher and pacing clock make the passes one timeline that never goes
// back. Every pass takes the overlay settings as they are at its start. A
// pass that sends nothing (a file without a program) fails the run
// rather than spinning through the file, as the plain loop does.
#include "engines/overlay_ts_loop_engine.h"

#include <vector>

#include "engines/engines.h"
#include "engines/overlay_router.h"
#include "engines/ts_file_feed.h"
#include "engines/ts_loop_publisher.h"
#include "platform/error_text.h"

namespace {

enum class TsPassEnd { next, stopped, failed };

// The end of a pass that did not end with the file: 1 for a stop, else 0.
TsPassEnd pass_failed(const PublishContext& context) {
    return publish_stopped(context) ? TsPassEnd::stopped : TsPassEnd::failed;
}

TsPassEnd play_pass(OverlayRouterContext& router, const OverlayTsLoopOptions& options,
                    std::vector<uint8_t>& buffer, std::span<char> error) {
    PublishContext& context = *router.publish;
    FilePtr file(std::fopen(options.recording_path.c_str(), "rb"));
    if (!file) {
        error_printf(error, "%s", "TS recording cannot be opened");
        return TsPassEnd::failed;
    }
    // Each pass paints the overlay as it is now: a new pipeline built from the
    // run's first snapshot would undo every edit made since.
    OverlaySettings settings = options.settings;
    if (settings.fetch) settings.fetch(settings.fetch_context, &settings);
    if (!overlay_media_start(router, settings)) return TsPassEnd::failed;
    uint64_t sent_before = context.tags_sent;
    TsFeedEnd fed = ts_file_feed(context, file.get(), buffer, error);
    file.reset();
    if (fed == TsFeedEnd::stopped) return TsPassEnd::stopped;
    if (fed == TsFeedEnd::failed) {
        error_set_if_empty(error, "MPEG-TS processing failed");
        return TsPassEnd::failed;
    }
    if (!overlay_media_drain(router)) {
        error_set_if_empty(error, "MPEG-TS processing failed");
        return pass_failed(context);
    }
    overlay_media_stop(router);
    if (publish_stopped(context)) return TsPassEnd::stopped;
    if (context.tags_sent == sent_before) {
        error_printf(error, "%s", "recording holds no playable audio or video");
        return TsPassEnd::failed;
    }
    context.timestamp_offset = context.highest_timestamp + 1;
    return TsPassEnd::next;
}

TsPassEnd loop(const OverlayTsLoopOptions& options, const std::string& url, std::span<char> error) {
    PublishContext context;
    context.stop_event = options.stop_event;
    context.stats = options.stats;
    OverlayRouterContext router{
        &context, nullptr, error, options.status, options.status_context, "Overlay TS loop playing",
        {}};
    context.publisher.reset(rtmp_open(url, RTMP_OPEN_TIMEOUT_MS, error, options.stop_event));
    if (!context.publisher) return pass_failed(context);
    if (options.status) options.status(options.status_context, "Overlay TS loop connected");
    std::vector<uint8_t> buffer(TS_LOOP_READ_SIZE);
    TsPassEnd end = TsPassEnd::next;
    while (end == TsPassEnd::next) {
        end = publish_stopped(context) ? TsPassEnd::stopped
                                       : play_pass(router, options, buffer, error);
    }
    overlay_media_stop(router);
    return end;
}

}  // namespace

int overlay_ts_loop_run(const OverlayTsLoopOptions& options, std::span<char> error) {
    std::optional<std::string> url = to_utf8(options.output_url);
    if (!url) {
        error_printf(error, "%s", "RTMP URL conversion failed");
        return 0;
    }
    error_clear(error);
    if (loop(options, *url, error) == TsPassEnd::failed) return 0;
    error_clear(error);
    return 1;
}

int overlay_ts_loop_engine(const std::string& recording_path, const std::string& output_url,
                           const OverlaySettings& settings, Event* stop_event,
                           EngineStatusCallback status, void* context, std::span<char> error) {
    return overlay_ts_loop_run(OverlayTsLoopOptions{recording_path, output_url, settings,
                                                    stop_event, status, context, nullptr},
                               error);
}
