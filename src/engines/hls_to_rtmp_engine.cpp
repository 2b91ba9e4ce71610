// HLS in, RTMP out:
//
//   downloader thread -> SegmentRing -> [first segment] -> rtmp_open ->
//   publish_segment (record, demux, packetize, pace, send) per segment
//
// When the source fails while streaming and the runner can resolve it again
// (a page whose media URL expires), a new ring on the fresh URL takes over
// on the same connection; the timeline rebases at its first tag.
//
// The server is contacted only once the first segment is in hand, so a
// source that never delivers never touches it, and the recording starts
// with the same segment as the published stream. Tear-down goes ring first
// (the downloader stops before anything it could touch goes away), then the
// recording, the media pipeline and the connection.
#include "engines/hls_to_rtmp_engine.h"

#include "engines/engines.h"
#include "engines/live_source.h"
#include "platform/error_text.h"
#include "platform/files.h"

namespace {

int stream_segments(LiveSource& source, PublishContext& context, OwnedByteBuffer& segment, std::span<char> error) {
    SegmentLabel label;
    while (live_source_next(source, context, &segment.buffer, &label) == SegmentTake::segment) {
        if (!publish_segment(context, byte_buffer_bytes(segment.buffer), error, label)) {
            return publish_stopped(context) ? 1 : 0;
        }
        byte_buffer_free(&segment.buffer);
    }
    return live_source_end_result(source, context, error);
}

int run(const HlsToRtmpOptions& options, const std::string& source, const std::string& output, std::span<char> error) {
    PublishContext context;
    live_context_bind(context, options.stop_event, options.stats, options.hooks);
    OwnedByteBuffer segment;
    SegmentLabel first;
    LiveSource live{nullptr, &options.hooks};
    if (std::optional<int> early =
            live_source_start(live.ring, source, output, context, &segment.buffer, &first, error)) {
        return *early;
    }
    if (options.status) options.status(options.status_context, "Native RTMP publisher connected");
    if (!publish_context_start_media(context)) {
        error_printf(error, "%s", "media engine allocation failed");
        return 0;
    }
    if (!options.recording_path.empty() && !publish_open_recording(context, options.recording_path)) {
        error_printf(error, "%s", "recording file cannot be opened");
        return 0;
    }
    if (!publish_segment(context, byte_buffer_bytes(segment.buffer), error, first)) {
        return publish_stopped(context) ? 1 : 0;
    }
    byte_buffer_free(&segment.buffer);
    int result = stream_segments(live, context, segment, error);
    live.ring.reset();  // the downloader goes before the pipeline it fed
    return result;
}

}  // namespace

int hls_to_rtmp_run(const HlsToRtmpOptions& options, std::span<char> error) {
    return live_engine_frame(
        options.source_url, options.output_url, error,
        [&](const std::string& source, const std::string& output) { return run(options, source, output, error); });
}

int hls_to_rtmp_engine(const std::string& source_url, const std::string& output_url, const std::string& recording_path,
                       Event* stop_event, EngineStatusCallback status, void* context, const EngineHooks& hooks,
                       std::span<char> error) {
    return hls_to_rtmp_run(
        HlsToRtmpOptions{source_url, output_url, recording_path, stop_event, status, context, nullptr, hooks}, error);
}
