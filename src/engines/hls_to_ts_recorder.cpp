// HLS in, one TS file out: segments appended byte for byte in playlist
// order, flushed after each, so the file always ends at a segment boundary.
// Nothing is parsed; the loop engines play the file later. Each capture
// attempt of a run appends to the run's one file (the runner names a new file
// for every run), so the loop plays everything recorded, in order; the
// attempt's downloader joins the source after the segments the run has
// recorded, so nothing is recorded twice.
#include "engines/engines.h"
#include "engines/live_source.h"
#include "engines/publish_context.h"
#include "net/hls_downloader.h"
#include "platform/text/error_text.h"

namespace {

// Appends segments until the ring has no more; the engine's result: done when
// something was recorded, or when a source the run has recorded before ended
// with nothing new. A failed write cuts the file back to its last whole
// segment, so the next attempt of the run appends after whole segments only.
EngineResult record_segments(SegmentRing* ring, Recording& recording, WorkflowHealth* health, std::span<char> error) {
    OwnedByteBuffer segment;
    SegmentLabel label;
    bool written = false;
    for (;;) {
        if (segment_ring_take(ring, &segment.buffer, &label) != SegmentTake::segment) {
            bool failed = segment_ring_marks(ring).failed;
            const HlsSegmentHistory* recorded = recording.history;
            if (written || (!failed && recorded && !recorded->segments.empty())) return EngineResult::done;
            if (failed) segment_ring_error(ring, error);
            return EngineResult::failed;
        }
        live_source_note(health, ring, segment.buffer, label);
        std::span<const uint8_t> bytes = byte_buffer_bytes(segment.buffer);
        if (recording_append(recording, bytes, label) != 0) {
            health_recording_failed(health);
            error_printf(error, "%s", "recording write failed");
            return EngineResult::failed;
        }
        health_recording_written(health, bytes.size());
        written = written || !bytes.empty();
        byte_buffer_free(&segment.buffer);
    }
}

}  // namespace

EngineResult hls_to_ts_recorder(const HlsToTsOptions& options, const EngineRun& run, std::span<char> error) {
    error_clear(error);
    std::optional<std::string> source = to_utf8(options.source_url);
    if (!source) {
        error_printf(error, "%s", "URL conversion failed");
        return EngineResult::failed;
    }
    Recording recording{.history = run.hooks.recorded};
    if (!recording_open(recording, options.recording_path)) {
        error_printf(error, "%s", "recording file cannot be opened");
        return EngineResult::failed;
    }
    health_recording_file(run.health, options.recording_path);
    SegmentRingPtr ring(hls_downloader_start(*source, run.stop_event, recording.history));
    if (!ring) {
        error_printf(error, "%s", "HLS downloader thread failed");
        return EngineResult::failed;
    }
    engine_status(run, "Recording native HLS to TS");
    EngineResult result = record_segments(ring.get(), recording, run.health, error);
    if (result == EngineResult::done) error_clear(error);
    return result;
}
