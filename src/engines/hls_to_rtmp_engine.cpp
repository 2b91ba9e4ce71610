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
#include "net/hls_downloader.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr int HLS_RESOLVE_ATTEMPTS = 2;

// The result once the ring gives no more segments: a failure of the source
// counts only when nobody asked us to stop.
int source_end_result(SegmentRing* ring, const PublishContext& context, std::span<char> error) {
    if (!segment_ring_marks(ring).failed || publish_stopped(context)) return 1;
    segment_ring_error(ring, error);
    return 0;
}

// After the source failed: a fresh URL from the runner, downloaded by a new
// ring, continues the same connection and timeline. False when there is no
// resolver, it fails, or the new ring cannot start (the old error stays).
bool resolve_again(const HlsToRtmpOptions& options, PublishContext& context, SegmentRingPtr& ring) {
    if (!options.hooks.resolve_source || publish_stopped(context)) return false;
    char reason[SEGMENT_RING_ERROR_SIZE] = {};
    segment_ring_error(ring.get(), reason);
    std::string text = string_printf("HLS source failed (%s); resolving it again", reason);
    publish_notice(context, text.c_str());
    std::string url;
    if (!options.hooks.resolve_source(options.hooks.context, &url) || !to_utf8(url)) return false;
    SegmentRingPtr fresh(hls_downloader_start(url, options.stop_event));
    if (!fresh) return false;
    ring = std::move(fresh);
    context.rebase_pending = true;  // the new URL's clock need not continue the old one
    return true;
}

int stream_segments(const HlsToRtmpOptions& options, SegmentRingPtr& ring, PublishContext& context,
                    OwnedByteBuffer& segment, std::span<char> error) {
    int resolved_without_segment = 0;  // a fresh URL that fails at once is the runner's to retry
    for (;;) {
        bool discontinuity = false;
        SegmentTake take = segment_ring_take(ring.get(), &segment.buffer, &discontinuity);
        if (take == SegmentTake::failed && resolved_without_segment < HLS_RESOLVE_ATTEMPTS &&
            resolve_again(options, context, ring)) {
            ++resolved_without_segment;
            continue;
        }
        if (take != SegmentTake::segment) return source_end_result(ring.get(), context, error);
        resolved_without_segment = 0;
        if (!publish_segment(context, byte_buffer_bytes(segment.buffer), error, discontinuity)) {
            return publish_stopped(context) ? 1 : 0;
        }
        byte_buffer_free(&segment.buffer);
    }
}

int run(const HlsToRtmpOptions& options, const std::string& source, const std::string& output, std::span<char> error) {
    PublishContext context;
    context.stop_event = options.stop_event;
    context.stats = options.stats;
    context.notice = options.hooks.notice;
    context.notice_context = options.hooks.context;
    OwnedByteBuffer segment;
    SegmentRingPtr ring;
    if (std::optional<int> early = live_source_first_segment(ring, source, context, &segment.buffer, error)) {
        return *early;
    }
    context.publisher.reset(rtmp_open(output, RTMP_OPEN_TIMEOUT_MS, error, options.stop_event));
    if (!context.publisher) return publish_stopped(context) ? 1 : 0;
    if (options.status) options.status(options.status_context, "Native RTMP publisher connected");
    if (!publish_context_start_media(context)) {
        error_printf(error, "%s", "media engine allocation failed");
        return 0;
    }
    if (!options.recording_path.empty() && !publish_open_recording(context, options.recording_path)) {
        error_printf(error, "%s", "recording file cannot be opened");
        return 0;
    }
    if (!publish_segment(context, byte_buffer_bytes(segment.buffer), error)) return publish_stopped(context) ? 1 : 0;
    byte_buffer_free(&segment.buffer);
    int result = stream_segments(options, ring, context, segment, error);
    ring.reset();  // the downloader goes before the pipeline it fed
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
