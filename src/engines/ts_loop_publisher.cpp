// Pass after pass over the recording:
//
//   open file -> new packetizer + demuxer -> read 1024 packets at a time
//   (whole packets only) -> feed -> ... -> close -> flush -> next pass with
//   timestamp_offset = highest timestamp sent + 1
//
// One publisher and one pacing clock serve the whole run, so the first tag
// of a pass falls due one millisecond after the last tag of the pass
// before, and every pass opens with fresh sequence headers. Jumps of the
// recorded clock inside a pass (a capture restarted, an encoder reset) are
// rebased by the timeline in paced_send, the same way on every pass; damaged
// packets are skipped and reported once per pass. A pass that
// sends nothing at all (a file without a program) fails the run instead of
// spinning through the file without pause; the runner retries it later.
#include "engines/ts_loop_publisher.h"

#include "engines/engines.h"
#include "engines/publish_loop.h"
#include "engines/ts_file_feed.h"
#include "platform/error_text.h"
#include "platform/files.h"

namespace {

struct TsPass {
    const std::string& path;
    std::vector<uint8_t> buffer;
};

PassEnd play_pass(PublishContext& context, void* opaque, std::span<char> error) {
    auto& pass = *static_cast<TsPass*>(opaque);
    FilePtr file(file_open(pass.path, "rb"));
    if (!file) {
        error_printf(error, "%s", "recording cannot be opened for playback");
        return PassEnd::failed;
    }
    if (!publish_context_start_media(context)) {
        error_printf(error, "%s", "playback media engine allocation failed");
        return PassEnd::failed;
    }
    PassEnd end = ts_file_feed(context, file.get(), pass.buffer, error);
    file.reset();
    if (end != PassEnd::next) return end;
    if (!ts_demuxer_flush(context.demuxer.get())) return PassEnd::failed;
    publish_report_damage(context);
    return PassEnd::next;
}

}  // namespace

int ts_loop_run(const TsLoopOptions& options, std::span<char> error) {
    TsPass pass{options.recording_path, std::vector<uint8_t>(TS_LOOP_READ_SIZE)};
    PublishLoop loop{options.output_url,
                     options.stop_event,
                     options.status,
                     options.status_context,
                     "Publishing continuous native TS loop",
                     "recording holds no playable audio or video",
                     options.initial_timestamp,
                     options.stats,
                     play_pass,
                     &pass,
                     options.hooks.notice,
                     options.hooks.context};
    return publish_loop_run(loop, error);
}

int ts_loop_publisher(const std::string& recording_path, const std::string& output_url, Event* stop_event,
                      EngineStatusCallback status, void* context, const EngineHooks& hooks, std::span<char> error) {
    return ts_loop_run(TsLoopOptions{recording_path, output_url, stop_event, status, context, 0, nullptr, hooks},
                       error);
}
