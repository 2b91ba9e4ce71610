// First and next segments of a live source, and its end.
#include "engines/live_source.h"

#include "net/hls_downloader.h"
#include "platform/text/error_text.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"

namespace {

std::optional<EngineResult> first_segment(SegmentRingPtr& ring, const std::string& source,
                                          const PublishContext& context, ByteBuffer* segment, SegmentLabel* label,
                                          std::span<char> error) {
    ring.reset(hls_downloader_start(source, context.pacer.stop_event, context.recording.history));
    if (!ring) {
        error_printf(error, "%s", "HLS downloader thread failed");
        return EngineResult::failed;
    }
    SegmentTake take = segment_ring_take(ring.get(), segment, label);
    if (take == SegmentTake::segment) {
        live_source_note(context.health, ring.get(), *segment, *label);
        return std::nullopt;
    }
    if (publish_stopped(context)) return EngineResult::stopped;
    // A finished playlist that the run's earlier attempts recorded to its end.
    const HlsSegmentHistory* recorded = context.recording.history;
    if (take == SegmentTake::ended && recorded && !recorded->segments.empty()) {
        return EngineResult::done;
    }
    segment_ring_error(ring.get(), error);
    error_set_if_empty(error, "HLS source ended before a segment was downloaded");
    return EngineResult::failed;
}

}  // namespace

void live_source_note(WorkflowHealth* health, SegmentRing* ring, const ByteBuffer& segment, const SegmentLabel& label) {
    if (!health) return;
    const SegmentRingSource seen = segment_ring_source(ring);
    int64_t latency_ms = -1;
    if (label.sequence >= 0 && seen.newest_listed >= label.sequence && seen.target_duration > 0) {
        latency_ms = (seen.newest_listed - label.sequence) * int64_t{seen.target_duration} * 1000;
    }
    health_source_segment(health, tick_ms(), segment.size, latency_ms, ring, seen.fetch_failures);
}

std::optional<EngineResult> live_source_start(SegmentRingPtr& ring, const std::string& source,
                                              std::span<const std::string> outputs, PublishContext& context,
                                              ByteBuffer* segment, SegmentLabel* label, std::span<char> error) {
    if (std::optional<EngineResult> early = first_segment(ring, source, context, segment, label, error)) return early;
    if (!publish_open_outputs(context, outputs, error)) return publish_failure(context);
    return std::nullopt;
}

namespace {

constexpr int HLS_RESOLVE_ATTEMPTS = 2;

// After the source failed: a fresh URL from the runner, downloaded by a new
// ring. False when there is no resolver, it fails, or the new ring cannot
// start (the old ring and its error stay).
bool resolve_again(LiveSource& source, PublishContext& context) {
    if (!source.hooks || !source.hooks->resolve_source || publish_stopped(context)) return false;
    char reason[SEGMENT_RING_ERROR_SIZE] = {};
    segment_ring_error(source.ring.get(), reason);
    std::string text = string_printf("HLS source failed (%s); resolving it again", reason);
    publish_notice(context, text.c_str());
    std::string url;
    if (!source.hooks->resolve_source(source.hooks->context, &url) || !to_utf8(url)) return false;
    SegmentRingPtr fresh(hls_downloader_start(url, context.pacer.stop_event, context.recording.history));
    if (!fresh) return false;
    health_source_retry(context.health);
    source.ring = std::move(fresh);
    timeline_rebase(context.timeline);  // the new URL's clock need not continue the old one
    return true;
}

}  // namespace

SegmentTake live_source_next(LiveSource& source, PublishContext& context, ByteBuffer* segment, SegmentLabel* label) {
    for (;;) {
        *label = SegmentLabel{};
        SegmentTake take = segment_ring_take(source.ring.get(), segment, label);
        if (take == SegmentTake::segment) {
            live_source_note(context.health, source.ring.get(), *segment, *label);
            source.resolved_without_segment = 0;
            return take;
        }
        if (take != SegmentTake::failed || source.resolved_without_segment >= HLS_RESOLVE_ATTEMPTS ||
            !resolve_again(source, context)) {
            return take;
        }
        ++source.resolved_without_segment;
    }
}

EngineResult live_source_end_result(const LiveSource& source, const PublishContext& context, std::span<char> error) {
    if (publish_stopped(context)) return EngineResult::stopped;
    if (!segment_ring_marks(source.ring.get()).failed) return EngineResult::done;
    segment_ring_error(source.ring.get(), error);
    return EngineResult::failed;
}
