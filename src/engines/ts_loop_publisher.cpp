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
#include "platform/error_text.h"

namespace {

constexpr size_t TS_PACKET_SIZE = 188;

enum class PassEnd { next, stopped, failed };

// Feeds the whole file; `failed` on a feed error that was not a stop.
PassEnd feed_file(PublishContext& context, FILE* file, std::vector<uint8_t>& buffer, std::span<char> error) {
    while (!publish_stopped(context)) {
        size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        if (got == 0) return PassEnd::next;
        got -= got % TS_PACKET_SIZE;
        if (got == 0) continue;
        if (!ts_demuxer_feed(context.demuxer.get(), std::span<const uint8_t>(buffer.data(), got), error)) {
            return publish_stopped(context) ? PassEnd::stopped : PassEnd::failed;
        }
    }
    return PassEnd::stopped;
}

PassEnd play_pass(PublishContext& context, const std::string& path, std::vector<uint8_t>& buffer,
                  std::span<char> error) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error_printf(error, "%s", "recording cannot be opened for playback");
        return PassEnd::failed;
    }
    if (!publish_context_start_media(context)) {
        error_printf(error, "%s", "playback media engine allocation failed");
        return PassEnd::failed;
    }
    uint64_t sent_before = context.tags_sent;
    PassEnd end = feed_file(context, file.get(), buffer, error);
    file.reset();
    if (end != PassEnd::next) return end;
    if (!ts_demuxer_flush(context.demuxer.get()) || !publish_flush(context)) {
        return publish_stopped(context) ? PassEnd::stopped : PassEnd::failed;
    }
    publish_report_damage(context);
    context.demuxer.reset();
    context.packetizer.reset();
    if (publish_stopped(context)) return PassEnd::stopped;
    if (context.tags_sent == sent_before) {
        error_printf(error, "%s", "recording holds no playable audio or video");
        return PassEnd::failed;
    }
    context.timestamp_offset = context.highest_timestamp + 1;
    return PassEnd::next;
}

// Connects, then plays pass after pass until a stop or a failure.
PassEnd loop(const TsLoopOptions& options, const std::string& url, std::span<char> error) {
    PublishContext context;
    context.stop_event = options.stop_event;
    context.timestamp_offset = context.highest_timestamp = context.pacing_origin = options.initial_timestamp;
    context.stats = options.stats;
    context.notice = options.hooks.notice;
    context.notice_context = options.hooks.context;
    context.publisher.reset(rtmp_open(url, RTMP_OPEN_TIMEOUT_MS, error, options.stop_event));
    if (!context.publisher) return publish_stopped(context) ? PassEnd::stopped : PassEnd::failed;
    if (options.status) options.status(options.status_context, "Publishing continuous native TS loop");
    std::vector<uint8_t> buffer(TS_LOOP_READ_SIZE);
    PassEnd end = PassEnd::next;
    while (end == PassEnd::next) {
        end = publish_stopped(context) ? PassEnd::stopped : play_pass(context, options.recording_path, buffer, error);
    }
    return end;
}

}  // namespace

int ts_loop_run(const TsLoopOptions& options, std::span<char> error) {
    error_clear(error);
    std::optional<std::string> url = to_utf8(options.output_url);
    if (!url) {
        error_printf(error, "%s", "RTMP URL conversion failed");
        return 0;
    }
    if (loop(options, *url, error) == PassEnd::failed) return 0;
    error_clear(error);
    return 1;
}

int ts_loop_publisher(const std::string& recording_path, const std::string& output_url, Event* stop_event,
                      EngineStatusCallback status, void* context, const EngineHooks& hooks, std::span<char> error) {
    return ts_loop_run(TsLoopOptions{recording_path, output_url, stop_event, status, context, 0, nullptr, hooks},
                       error);
}
