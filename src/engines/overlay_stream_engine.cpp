// HLS in, overlaid video and untouched audio out:
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
#include "engines/overlay_stream_engine.h"

#include "engines/engines.h"
#include "engines/live_source.h"
#include "engines/overlay_router.h"
#include "platform/error_text.h"

namespace {

// Records (when recording) and demultiplexes one segment, then sends what
// fell due; false on failure. A failed recording write stops the recording,
// not the stream.
bool stream_segment(PublishContext& context, std::span<const uint8_t> segment, const SegmentLabel& label,
                    std::span<char> error) {
    publish_record_segment(context, segment, label);
    if (label.discontinuity) context.rebase_pending = true;
    bool fed = ts_demuxer_feed(context.demuxer.get(), segment, error) && publish_flush(context);
    publish_report_damage(context);
    if (!fed) error_set_if_empty(error, "MPEG-TS processing failed");
    return fed;
}

// Segment after segment until the source ends, fails, or a stop comes.
int stream_segments(LiveSource& source, OverlayRouterContext& router, OwnedByteBuffer& segment, SegmentLabel& label,
                    std::span<char> error) {
    PublishContext& context = *router.publish;
    do {
        bool streamed = stream_segment(context, byte_buffer_bytes(segment.buffer), label, error);
        byte_buffer_free(&segment.buffer);
        if (!streamed) return publish_stopped(context) ? 1 : 0;
    } while (live_source_next(source, context, &segment.buffer, &label) == SegmentTake::segment);
    if (segment_ring_marks(source.ring.get()).failed || publish_stopped(context)) {
        return live_source_end_result(source, context, error);
    }
    // The source ended cleanly: what the demuxer and the pipeline still hold goes out.
    if (overlay_media_drain(router) && publish_flush(context)) return 1;
    error_set_if_empty(error, "MPEG-TS processing failed");
    return publish_stopped(context) ? 1 : 0;
}

int run(const OverlayStreamOptions& options, const std::string& source, const std::string& output,
        std::span<char> error) {
    PublishContext context;
    live_context_bind(context, options.stop_event, options.stats, options.hooks);
    OverlayRouterContext router;
    router.publish = &context;
    router.error = error;
    router.status = options.status;
    router.status_context = options.status_context;
    router.status_prefix = "Overlay publisher streaming";
    OwnedByteBuffer segment;
    SegmentLabel label;
    LiveSource live{nullptr, &options.hooks};
    if (std::optional<int> early =
            live_source_start(live.ring, source, output, context, &segment.buffer, &label, error)) {
        return *early;
    }
    if (!options.recording_path.empty() && !publish_open_recording(context, options.recording_path)) {
        error_printf(error, "%s", "TS recording cannot be opened");
        return 0;
    }
    if (!overlay_media_start(router, options.settings)) {
        overlay_media_stop(router);
        return 0;
    }
    if (options.status) options.status(options.status_context, "Overlay publisher connected");
    int result = stream_segments(live, router, segment, label, error);
    live.ring.reset();  // the downloader goes before the pipeline it fed
    overlay_media_stop(router);
    return result;
}

}  // namespace

int overlay_stream_run(const OverlayStreamOptions& options, std::span<char> error) {
    return live_engine_frame(
        options.source_url, options.output_url, error,
        [&](const std::string& source, const std::string& output) { return run(options, source, output, error); });
}

int overlay_stream_engine(const std::string& source_url, const std::string& output_url,
                          const std::string& recording_path, const OverlaySettings& settings, Event* stop_event,
                          EngineStatusCallback status, void* context, const EngineHooks& hooks, std::span<char> error) {
    return overlay_stream_run(OverlayStreamOptions{source_url, output_url, recording_path, settings, stop_event, status,
                                                   context, nullptr, hooks},
                              error);
}
