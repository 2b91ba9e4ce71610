// HLS in, RTMP out:
//
//   downloader thread -> SegmentRing -> [first segment] -> rtmp_open ->
//   publish_segment (record, demux, packetize, pace, send) per segment
//
// The server is contacted only once the first segment is in hand, so a
// source that never delivers never touches it, and the recording starts
// with the same segment as the published stream. Tear-down goes ring first
// (the downloader stops before anything it could touch goes away), then the
// recording, the media pipeline and the connection.
#include "engines/hls_to_rtmp_engine.h"

#include "engines/engines.h"
#include "net/hls_downloader.h"
#include "platform/error_text.h"
#include "platform/files.h"

namespace {

// The result once the ring gives no more segments: a failure of the source
// counts only when nobody asked us to stop.
int source_end_result(SegmentRing* ring, const PublishContext& context, std::span<char> error) {
    if (!segment_ring_marks(ring).failed || publish_stopped(context)) return 1;
    segment_ring_error(ring, error);
    return 0;
}

int stream_segments(SegmentRing* ring, PublishContext& context, OwnedByteBuffer& segment, std::span<char> error) {
    for (;;) {
        if (segment_ring_take(ring, &segment.buffer) != SegmentTake::segment) {
            return source_end_result(ring, context, error);
        }
        if (!publish_segment(context, byte_buffer_bytes(segment.buffer), error)) {
            return publish_stopped(context) ? 1 : 0;
        }
        byte_buffer_free(&segment.buffer);
    }
}

int run(const HlsToRtmpOptions& options, const std::string& source, const std::string& output,
        std::span<char> error) {
    PublishContext context;
    context.stop_event = options.stop_event;
    context.stats = options.stats;
    OwnedByteBuffer segment;
    SegmentRingPtr ring(hls_downloader_start(source, options.stop_event));
    if (!ring) {
        error_printf(error, "%s", "HLS downloader thread failed");
        return 0;
    }
    if (segment_ring_take(ring.get(), &segment.buffer) != SegmentTake::segment) {
        if (publish_stopped(context)) return 1;
        segment_ring_error(ring.get(), error);
        error_set_if_empty(error, "HLS source ended before a segment was downloaded");
        return 0;
    }
    context.publisher.reset(rtmp_open(output, RTMP_OPEN_TIMEOUT_MS, error, options.stop_event));
    if (!context.publisher) return publish_stopped(context) ? 1 : 0;
    if (options.status) options.status(options.status_context, "Native RTMP publisher connected");
    if (!publish_context_start_media(context)) {
        error_printf(error, "%s", "media engine allocation failed");
        return 0;
    }
    if (!options.recording_path.empty()) {
        context.recording.reset(file_open(options.recording_path, "wb"));
        if (!context.recording) {
            error_printf(error, "%s", "recording file cannot be opened");
            return 0;
        }
    }
    if (!publish_segment(context, byte_buffer_bytes(segment.buffer), error)) return publish_stopped(context) ? 1 : 0;
    byte_buffer_free(&segment.buffer);
    int result = stream_segments(ring.get(), context, segment, error);
    ring.reset();  // the downloader goes before the pipeline it fed
    return result;
}

}  // namespace

int hls_to_rtmp_run(const HlsToRtmpOptions& options, std::span<char> error) {
    error_clear(error);
    std::optional<std::string> source = to_utf8(options.source_url);
    std::optional<std::string> output = to_utf8(options.output_url);
    if (!source || !output) {
        error_printf(error, "%s", "URL conversion failed");
        return 0;
    }
    int result = run(options, *source, *output, error);
    if (result == 1) error_clear(error);
    return result;
}

int hls_to_rtmp_engine(const std::string& source_url, const std::string& output_url,
                       const std::string& recording_path, Event* stop_event, EngineStatusCallback status,
                       void* context, std::span<char> error) {
    return hls_to_rtmp_run(
        HlsToRtmpOptions{source_url, output_url, recording_path, stop_event, status, context, nullptr}, error);
}
