// The HLS downloader: one thread per live engine that polls the media
// playlist and delivers every new segment, whole and in sequence order, into
// the engine's SegmentRing.
//
// Sequence numbers decide what is new. A fresh downloader starts with the
// last two listed segments; after that it delivers every segment numbered at
// or above the next one it expects, never going back. Up to six segments are
// fetched at once (one short-lived thread each) and delivered in order. When
// a segment fails, the rest of that poll is dropped and the failed segment is
// fetched again at the next poll, so the consumer never sees a gap that a
// later poll could still have filled, nor a repeat. Only when the playlist
// has moved past the expected number does delivery resume at its first entry,
// and a segment that has failed at five polls in a row is given up (skipped),
// so a finished or never-trimmed playlist with one broken segment cannot
// hold the stream forever.
//
// The thread ends on the stop event, on abandonment by the engine, at the end
// of a finished playlist, after five failed playlist fetches in a row, or on
// a playlist that cannot be parsed; the last two are fatal (failed + reason).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "net/byte_buffer.h"

struct HttpCancel;
struct SegmentRing;
struct SegmentFetchLatch;

constexpr int HLS_PARALLEL_FETCHES = 6;
constexpr uint32_t HLS_PLAYLIST_TIMEOUT_MS = 45000;
constexpr uint32_t HLS_SEGMENT_TIMEOUT_MS = 180000;
constexpr int HLS_PLAYLIST_FAILURE_LIMIT = 5;          // consecutive failed fetches that end the downloader
constexpr uint32_t HLS_PLAYLIST_RETRY_PAUSE_MS = 1000; // after a failed playlist fetch
constexpr uint32_t HLS_FAST_POLL_MS = 500;             // target duration of 2 s or less (0 counts as 2)
constexpr uint32_t HLS_SLOW_POLL_MS = 1000;            // longer target durations
constexpr int HLS_SEGMENT_ATTEMPT_LIMIT = 5;           // polls at which one segment may fail before it is skipped
constexpr size_t HLS_DOWNLOADER_ERROR_SIZE = 256;
constexpr size_t SEGMENT_FETCH_ERROR_SIZE = 128;

// One segment download, owned by the downloader; its thread touches only this.
struct SegmentFetchJob {
    std::string_view url;  // borrowed from the playlist being delivered
    int64_t sequence = 0;
    bool discontinuity = false;  // the playlist marked a discontinuity before it
    ByteBuffer body;
    bool result = false;
    uint32_t status = 0;
    char error_text[SEGMENT_FETCH_ERROR_SIZE] = {};
    HttpCancel* cancel = nullptr;       // the ring's, so tear-down cuts the download short
    SegmentFetchLatch* latch = nullptr; // counted down when the fetch is over
};

// Pause between two polls of a playlist with this target duration.
[[nodiscard]] uint32_t hls_poll_pause_ms(uint32_t target_duration);

// The downloader thread's body, on a ring made by segment_ring_start. Returns 0.
int hls_downloader_thread(SegmentRing* ring);

// One segment fetch: result = http_get(url, 180000 ms, ...). Returns 0.
int segment_fetch_thread(SegmentFetchJob* job);
