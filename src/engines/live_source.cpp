// First segment of a live source.
#include "engines/live_source.h"

#include "net/hls_downloader.h"
#include "platform/error_text.h"

std::optional<int> live_source_first_segment(SegmentRingPtr& ring, const std::string& source,
                                             const PublishContext& context, ByteBuffer* segment,
                                             std::span<char> error) {
    ring.reset(hls_downloader_start(source, context.stop_event));
    if (!ring) {
        error_printf(error, "%s", "HLS downloader thread failed");
        return 0;
    }
    if (segment_ring_take(ring.get(), segment) == SegmentTake::segment) return std::nullopt;
    if (publish_stopped(context)) return 1;
    segment_ring_error(ring.get(), error);
    error_set_if_empty(error, "HLS source ended before a segment was downloaded");
    return 0;
}
