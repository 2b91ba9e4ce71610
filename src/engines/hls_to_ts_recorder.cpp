// HLS in, one TS file out: segments appended byte for byte in playlist
// order, flushed after each, so the file always ends at a segment boundary.
// Nothing is parsed; the loop engines play the file later. Each capture
// attempt of a run appends to the run's one file (the runner names a new file
// for every run), so the loop plays everything recorded, in order; the
// attempt's downloader joins the source after the segments the run has
// recorded, so nothing is recorded twice.
#include <filesystem>
#include <system_error>

#include "engines/engines.h"
#include "engines/publish_context.h"
#include "net/hls_downloader.h"
#include "platform/error_text.h"
#include "platform/files.h"

namespace {

// Appends segments until the ring has no more; the engine's result: done when
// something was recorded, or when a source the run has recorded before ended
// with nothing new. A failed write cuts the file back to its last whole
// segment, so the next attempt of the run appends after whole segments only.
EngineResult record_segments(SegmentRing* ring, FILE* file, const std::string& path, HlsSegmentHistory* recorded,
                             std::span<char> error) {
    OwnedByteBuffer segment;
    SegmentLabel label;
    uint64_t written = 0;
    const long start = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    for (;;) {
        if (segment_ring_take(ring, &segment.buffer, &label) != SegmentTake::segment) {
            bool failed = segment_ring_marks(ring).failed;
            if (written > 0 || (!failed && recorded && !recorded->segments.empty())) return EngineResult::done;
            if (failed) segment_ring_error(ring, error);
            return EngineResult::failed;
        }
        std::span<const uint8_t> bytes = byte_buffer_bytes(segment.buffer);
        if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0) {
            std::error_code ignored;
            if (start >= 0) std::filesystem::resize_file(path, static_cast<uint64_t>(start) + written, ignored);
            error_printf(error, "%s", "recording write failed");
            return EngineResult::failed;
        }
        written += bytes.size();
        if (recorded && label.sequence >= 0) hls_history_add(recorded, label);
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
    FilePtr file(file_open(options.recording_path, "ab"));
    if (!file) {
        error_printf(error, "%s", "recording file cannot be opened");
        return EngineResult::failed;
    }
    SegmentRingPtr ring(hls_downloader_start(*source, run.stop_event, run.hooks.recorded));
    if (!ring) {
        error_printf(error, "%s", "HLS downloader thread failed");
        return EngineResult::failed;
    }
    engine_status(run, "Recording native HLS to TS");
    EngineResult result = record_segments(ring.get(), file.get(), options.recording_path, run.hooks.recorded, error);
    if (result == EngineResult::done) error_clear(error);
    return result;
}
