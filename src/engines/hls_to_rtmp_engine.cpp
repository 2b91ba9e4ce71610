// Live restreaming: a live HLS source republished to RTMP(S) as it comes,
// without transcoding, its segments recorded byte for byte on the way.
//
//   downloader thread -> SegmentRing -> [first segment] -> rtmp_open ->
//   publish_segment (record, demux, packetize, pace, send) per segment
//
// When the source fails while streaming and the runner can resolve it again
// (a page whose media URL expires), a new ring on the fresh URL takes over
// on the same connection; the timeline rebases at its first tag. When the
// source fails for good, several outputs stay connected for the run's next
// attempt (KeptOutputs), which goes on with them.
//
// The server is contacted only once the first segment is in hand, so a
// source that never delivers never touches it, and the recording starts
// with the same segment as the published stream. Tear-down goes ring first
// (the downloader stops before anything it could touch goes away), then the
// recording, the media pipeline and the connection.
#include "engines/engines.h"
#include "engines/live_source.h"
#include "platform/files/files.h"
#include "platform/text/error_text.h"

namespace {

EngineResult stream_segments(LiveSource& source, PublishContext& context, OwnedByteBuffer& segment,
                             std::span<char> error) {
    SegmentLabel label;
    while (live_source_next(source, context, &segment.buffer, &label) == SegmentTake::segment) {
        EngineResult published = publish_segment(context, byte_buffer_bytes(segment.buffer), error, label);
        if (published != EngineResult::done) return published;
        byte_buffer_free(&segment.buffer);
    }
    return live_source_end_result(source, context, error);
}

EngineResult restream(const HlsToRtmpOptions& options, const EngineRun& run, const std::string& source,
                      const std::vector<std::string>& outputs, std::span<char> error) {
    PublishContext context;
    publish_context_bind(context, run);
    OwnedByteBuffer segment;
    SegmentLabel first;
    LiveSource live{nullptr, &run.hooks};
    if (std::optional<EngineResult> early =
            live_source_start(live.ring, source, outputs, context, &segment.buffer, &first, error)) {
        return *early;
    }
    engine_status(run, "Native RTMP publisher connected");
    if (!publish_context_start_media(context)) {
        error_printf(error, "%s", "media engine allocation failed");
        return EngineResult::failed;
    }
    if (!options.recording_path.empty() && !recording_open(context.recording, options.recording_path)) {
        error_printf(error, "%s", "recording file cannot be opened");
        return EngineResult::failed;
    }
    if (recording_is_open(context.recording)) health_recording_file(context.health, options.recording_path);
    EngineResult result = publish_segment(context, byte_buffer_bytes(segment.buffer), error, first);
    if (result == EngineResult::done) {
        byte_buffer_free(&segment.buffer);
        result = stream_segments(live, context, segment, error);
    }
    live.ring.reset();  // the downloader goes before the pipeline it fed
    if (result == EngineResult::failed) publish_keep_outputs(context, outputs);
    return result;
}

}  // namespace

EngineResult hls_to_rtmp_engine(const HlsToRtmpOptions& options, const EngineRun& run, std::span<char> error) {
    return live_engine_frame(options.source_url, options.output_url, options.more_output_urls, error,
                             [&](const std::string& source, const std::vector<std::string>& outputs) {
                                 return restream(options, run, source, outputs, error);
                             });
}
