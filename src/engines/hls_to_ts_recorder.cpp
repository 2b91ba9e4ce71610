// HLS in, one TS file out: segments appended byte for byte in playlist
// order, flushed after each, so the file always ends at a segment boundary.
// Nothing is parsed; the loop engines play the file later. Each capture
// attempt of a run appends to the run's one file (the runner names a new file
// for every run), so the loop plays everything recorded, in order.
#include <filesystem>
#include <system_error>

#include "engines/engines.h"
#include "engines/publish_context.h"
#include "net/hls_downloader.h"
#include "platform/error_text.h"
#include "platform/files.h"

namespace {

// Appends segments until the ring has no more; the engine's result. A failed
// write cuts the file back to its last whole segment, so the next attempt of
// the run appends after whole segments only.
int record_segments(SegmentRing* ring, FILE* file, const std::string& path, std::span<char> error) {
    OwnedByteBuffer segment;
    uint64_t written = 0;
    const long start = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    for (;;) {
        if (segment_ring_take(ring, &segment.buffer) != SegmentTake::segment) {
            if (written > 0) return 1;
            if (segment_ring_marks(ring).failed) segment_ring_error(ring, error);
            return 0;
        }
        std::span<const uint8_t> bytes = byte_buffer_bytes(segment.buffer);
        if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0) {
            std::error_code ignored;
            if (start >= 0) std::filesystem::resize_file(path, static_cast<uint64_t>(start) + written, ignored);
            error_printf(error, "%s", "recording write failed");
            return 0;
        }
        written += bytes.size();
        byte_buffer_free(&segment.buffer);
    }
}

}  // namespace

int hls_to_ts_recorder(const std::string& source_url, const std::string& recording_path, Event* stop_event,
                       EngineStatusCallback status, void* context, std::span<char> error) {
    error_clear(error);
    std::optional<std::string> source = to_utf8(source_url);
    if (!source) {
        error_printf(error, "%s", "URL conversion failed");
        return 0;
    }
    FilePtr file(file_open(recording_path, "ab"));
    if (!file) {
        error_printf(error, "%s", "recording file cannot be opened");
        return 0;
    }
    SegmentRingPtr ring(hls_downloader_start(*source, stop_event));
    if (!ring) {
        error_printf(error, "%s", "HLS downloader thread failed");
        return 0;
    }
    if (status) status(context, "Recording native HLS to TS");
    int result = record_segments(ring.get(), file.get(), recording_path, error);
    if (result == 1) error_clear(error);
    return result;
}
