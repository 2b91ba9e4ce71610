// The TS loop: a recorded MPEG-TS file published over and over on one RTMP
// connection until stopped, each pass continuing the timeline of the last.
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
#include "engines/engines.h"
#include "engines/publish_loop.h"
#include "engines/ts_file_feed.h"
#include "platform/files/files.h"
#include "platform/text/error_text.h"

namespace {

struct TsPass {
    const std::string& path;
    std::vector<uint8_t> buffer;
};

EngineResult play_pass(PublishContext& context, void* opaque, std::span<char> error) {
    auto& pass = *static_cast<TsPass*>(opaque);
    FilePtr file(file_open(pass.path, "rb"));
    if (!file) {
        error_printf(error, "%s", "recording cannot be opened for playback");
        return EngineResult::failed;
    }
    if (!publish_context_start_media(context)) {
        error_printf(error, "%s", "playback media engine allocation failed");
        return EngineResult::failed;
    }
    EngineResult end = ts_file_feed(context, file.get(), pass.buffer, error);
    file.reset();
    if (end != EngineResult::done) return end;
    if (!ts_demuxer_flush(context.demuxer.get())) return EngineResult::failed;
    publish_report_damage(context);
    return EngineResult::done;
}

}  // namespace

EngineResult ts_loop_publisher(const TsLoopOptions& options, const EngineRun& run, std::span<char> error) {
    TsPass pass{options.recording_path, std::vector<uint8_t>(TS_LOOP_READ_SIZE)};
    const PublishLoop loop{.output_url = options.output_url,
                           .more_output_urls = options.more_output_urls,
                           .status_text = "Publishing continuous native TS loop",
                           .empty_pass_text = "recording holds no playable audio or video",
                           .initial_timestamp = options.initial_timestamp,
                           .pass = play_pass,
                           .pass_context = &pass};
    return publish_loop_run(loop, run, error);
}
