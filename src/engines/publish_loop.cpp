// Connection, passes and the timeline between them for the loop engines.
#include "engines/publish_loop.h"

#include "platform/error_text.h"

namespace {

PassEnd play_counted(const PublishLoop& loop, PublishContext& context, std::span<char> error) {
    uint64_t sent_before = context.tags_sent;
    PassEnd end = loop.pass(context, loop.pass_context, error);
    // The pass's last tags may still wait in the gathered write.
    if (end == PassEnd::next && !publish_flush(context)) end = PassEnd::failed;
    context.demuxer.reset();
    context.packetizer.reset();
    if (end == PassEnd::failed && publish_stopped(context)) return PassEnd::stopped;
    if (end != PassEnd::next) return end;
    if (publish_stopped(context)) return PassEnd::stopped;
    if (context.tags_sent == sent_before) {
        error_printf(error, "%s", loop.empty_pass_text);
        return PassEnd::failed;
    }
    context.timestamp_offset = context.highest_timestamp + 1;
    return PassEnd::next;
}

PassEnd connect_and_loop(const PublishLoop& loop, const std::string& url, std::span<char> error) {
    PublishContext context;
    context.stop_event = loop.stop_event;
    context.timestamp_offset = context.highest_timestamp = context.pacing_origin = loop.initial_timestamp;
    context.stats = loop.stats;
    context.notice = loop.notice;
    context.notice_context = loop.notice_context;
    context.publisher.reset(rtmp_open(url, RTMP_OPEN_TIMEOUT_MS, error, loop.stop_event));
    if (!context.publisher) return publish_stopped(context) ? PassEnd::stopped : PassEnd::failed;
    if (loop.status) loop.status(loop.status_context, loop.status_text);
    PassEnd end = PassEnd::next;
    while (end == PassEnd::next) {
        end = publish_stopped(context) ? PassEnd::stopped : play_counted(loop, context, error);
    }
    return end;
}

}  // namespace

int publish_loop_run(const PublishLoop& loop, std::span<char> error) {
    error_clear(error);
    std::optional<std::string> url = to_utf8(loop.output_url);
    if (!url) {
        error_printf(error, "%s", "RTMP URL conversion failed");
        return 0;
    }
    if (connect_and_loop(loop, *url, error) == PassEnd::failed) return 0;
    error_clear(error);
    return 1;
}
