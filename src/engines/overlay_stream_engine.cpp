// Live overlay streaming: a live HLS source published with the picture and
// the ticker drawn in, its untouched segments recorded on the way.
//
//   downloader -> SegmentRing -> [first segment] -> rtmp_open -> recording
//   -> per segment: record (as received), demux -> router -> pipeline/packetizer
//   -> at a clean end of the source: flush the demuxer, drain the pipeline
//
// Unlike the plain restreamer the demuxer is not flushed after every
// segment: the pipeline wants whole access units and nothing is gained by
// cutting them at segment edges, so units run on across segments and the
// last ones go out only at the clean end. A stop never drains: it ends the
// run as soon as the current wait notices it.
#include "engines/engines.h"
#include "engines/live_source.h"
#include "engines/overlay_router.h"
#include "platform/text/error_text.h"

namespace {

// Records (when recording) and demultiplexes one segment, then sends what
// fell due; false on failure. A failed recording write stops the recording,
// not the stream.
bool stream_segment(PublishContext& context, std::span<const uint8_t> segment, const SegmentLabel& label,
                    std::span<char> error) {
    publish_record_segment(context, segment, label);
    if (label.discontinuity) timeline_rebase(context.timeline);
    bool fed = ts_demuxer_feed(context.demuxer.get(), segment, error) && publish_flush(context);
    publish_report_damage(context);
    if (!fed) error_set_if_empty(error, "MPEG-TS processing failed");
    return fed;
}

// Segment after segment until the source ends, fails, or a stop comes.
EngineResult stream_segments(LiveSource& source, OverlayRouterContext& router, OwnedByteBuffer& segment,
                             SegmentLabel& label, std::span<char> error) {
    PublishContext& context = *router.publish;
    do {
        bool streamed = stream_segment(context, byte_buffer_bytes(segment.buffer), label, error);
        byte_buffer_free(&segment.buffer);
        if (!streamed) return publish_failure(context);
    } while (live_source_next(source, context, &segment.buffer, &label) == SegmentTake::segment);
    if (segment_ring_marks(source.ring.get()).failed || publish_stopped(context)) {
        return live_source_end_result(source, context, error);
    }
    // The source ended cleanly: what the demuxer and the pipeline still hold goes out.
    if (overlay_media_drain(router) && publish_flush(context)) return EngineResult::done;
    error_set_if_empty(error, "MPEG-TS processing failed");
    return publish_failure(context);
}

EngineResult stream(const OverlayStreamOptions& options, const EngineRun& run, const std::string& source,
                    const std::vector<std::string>& outputs, std::span<char> error) {
    PublishContext context;
    publish_context_bind(context, run);
    OverlayRouterContext router{
        .publish = &context, .error = error, .run = &run, .status_prefix = "Overlay publisher streaming"};
    OwnedByteBuffer segment;
    SegmentLabel label;
    LiveSource live{nullptr, &run.hooks};
    if (std::optional<EngineResult> early =
            live_source_start(live.ring, source, outputs, context, &segment.buffer, &label, error)) {
        return *early;
    }
    if (!options.recording_path.empty() && !recording_open(context.recording, options.recording_path)) {
        error_printf(error, "%s", "TS recording cannot be opened");
        return EngineResult::failed;
    }
    if (recording_is_open(context.recording)) health_recording_file(context.health, options.recording_path);
    if (!overlay_media_start(router, options.settings)) {
        overlay_media_stop(router);
        return EngineResult::failed;
    }
    engine_status(run, "Overlay publisher connected");
    EngineResult result = stream_segments(live, router, segment, label, error);
    live.ring.reset();  // the downloader goes before the pipeline it fed
    overlay_media_stop(router);
    return result;
}

}  // namespace

EngineResult overlay_stream_engine(const OverlayStreamOptions& options, const EngineRun& run, std::span<char> error) {
    return live_engine_frame(options.source_url, options.output_url, options.more_output_urls, error,
                             [&](const std::string& source, const std::vector<std::string>& outputs) {
                                 return stream(options, run, source, outputs, error);
                             });
}
