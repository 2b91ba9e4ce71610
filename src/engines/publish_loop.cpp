// Connection, passes and the timeline between them for the loop engines.
#include "engines/publish_loop.h"

#include "platform/text/error_text.h"

namespace {

EngineResult play_counted(const PublishLoop& loop, PublishContext& context, std::span<char> error) {
    uint64_t sent_before = context.pacer.tags_sent;
    EngineResult end = loop.pass(context, loop.pass_context, error);
    // The pass's last tags may still wait in the gathered write.
    if (end == EngineResult::done && !publish_flush(context)) end = EngineResult::failed;
    context.demuxer.reset();
    context.packetizer.reset();
    if (end == EngineResult::failed) return publish_failure(context);
    if (end != EngineResult::done) return end;
    if (publish_stopped(context)) return EngineResult::stopped;
    if (context.pacer.tags_sent == sent_before) {
        error_printf(error, "%s", loop.empty_pass_text);
        return EngineResult::failed;
    }
    timeline_next_pass(context.timeline);
    return EngineResult::done;
}

EngineResult connect_and_loop(const PublishLoop& loop, const EngineRun& run, const std::vector<std::string>& urls,
                              std::span<char> error) {
    PublishContext context;
    publish_context_bind(context, run);
    context.timeline = timeline_starting_at(loop.initial_timestamp);
    context.pacer.origin = loop.initial_timestamp;
    if (!publish_open_outputs(context, urls, error)) return publish_failure(context);
    engine_status(run, loop.status_text);
    EngineResult end = EngineResult::done;
    while (end == EngineResult::done) {
        end = publish_stopped(context) ? EngineResult::stopped : play_counted(loop, context, error);
    }
    return end;
}

}  // namespace

EngineResult publish_loop_run(const PublishLoop& loop, const EngineRun& run, std::span<char> error) {
    error_clear(error);
    std::optional<std::vector<std::string>> urls = output_urls_utf8(loop.output_url, loop.more_output_urls);
    if (!urls) {
        error_printf(error, "%s", "RTMP URL conversion failed");
        return EngineResult::failed;
    }
    if (connect_and_loop(loop, run, *urls, error) == EngineResult::failed) return EngineResult::failed;
    error_clear(error);
    return EngineResult::stopped;
}
