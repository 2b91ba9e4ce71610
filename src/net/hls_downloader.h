// The HLS downloader: one thread per live engine that polls the media
// playlist and delivers every new segment, whole and in sequence order, into
// the engine's SegmentRing.
//
// Sequence numbers decide what is new. A fresh downloader starts with the
// last two listed segments; after that it delivers every segment numbered at
// or above the next one it expects. The one way back is an origin restart
// that numbers its segments anew (5000 -> 0): a playlist whose newest entry
// lies below the last one delivered and is not that segment again (a lagging
// copy of the playlist would be) is followed from its first entry at once,
// finished or not. Relative references resolve against the URL the playlist
// was finally fetched from, after redirects. Up to six segments are
// fetched at once (one short-lived thread each) and delivered in order. When
// a segment fails, the rest of that poll is dropped and the failed segment is
// fetched again at the next poll, so the consumer never sees a gap that a
// later poll could still have filled, nor a repeat. Only when the playlist
// has moved past the expected number does delivery resume at its first entry,
// and a segment that has failed at five polls in a row is given up (skipped),
// so a finished or never-trimmed playlist with one broken segment cannot
// hold the stream forever.
//
// A downloader may start with the segments a run has already recorded (the
// run's earlier capture attempts): it then joins after them instead of at the
// live edge, so a reconnect records nothing twice and loses nothing still
// listed. Where the listed numbers continue the recorded ones, delivery goes
// on by number (a re-resolved URL may change every path); where a recorded
// path is listed under another number, the origin numbers anew and delivery
// goes on after the newest such path; where neither holds and the numbers went
// back, the origin restarted and every listed segment is new.
//
// A live source that delivers nothing new for hls_stall_limit_ms (the
// playlist stopped growing, or every new segment fails, e.g. with 403 once a
// signed URL has expired) is fatal, so the runner's retry can start afresh;
// the reason is "HLS source stalled: no new segment for N s", followed by
// the last failed request's error in brackets when requests were failing.
// Waiting for room in the ring is not a stall; a live segment or a playlist
// that takes that long to arrive is (each request is bounded as a whole by
// the stall limit, a playlist by what is left of it), however the origin
// trickles its bytes.
//
// Memory is bounded whatever the origin serves: a playlist of at most 4 MiB
// and 10 000 entries, segments of at most 64 MiB, and fetches started only
// while the ring's budget (SEGMENT_RING_BYTE_BUDGET) has room for each at
// that size, so segments held in the ring and in flight never pass it. A
// segment or playlist past its bound fails as any other request does.
//
// The thread ends on the stop event, on abandonment by the engine, at the end
// of a finished playlist, after five failed playlist fetches in a row, on a
// playlist that cannot be parsed, or on a stall; the last three are fatal
// (failed + reason). A stop cancels the requests in flight, connects
// included.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string_view>

#include "net/byte_buffer.h"
#include "net/segment_ring.h"

struct SegmentFetchLatch;

constexpr int HLS_PARALLEL_FETCHES = 6;
constexpr uint32_t HLS_PLAYLIST_TIMEOUT_MS = 45000;
constexpr uint32_t HLS_SEGMENT_TIMEOUT_MS = 180000;
constexpr int HLS_PLAYLIST_FAILURE_LIMIT = 5;           // consecutive failed fetches that end the downloader
constexpr uint32_t HLS_PLAYLIST_RETRY_PAUSE_MS = 1000;  // after a failed playlist fetch
constexpr uint32_t HLS_FAST_POLL_MS = 500;              // target duration of 2 s or less (0 counts as 2)
constexpr uint32_t HLS_SLOW_POLL_MS = 1000;             // longer target durations
constexpr int HLS_SEGMENT_ATTEMPT_LIMIT = 5;            // polls at which one segment may fail before it is skipped
constexpr uint32_t HLS_STALL_TARGET_DURATIONS = 3;      // a stall is this many target durations without a segment...
constexpr uint32_t HLS_STALL_FLOOR_MS = 10000;          // ...but never less than this
constexpr size_t HLS_RECENT_SEGMENTS = 16;  // delivered URLs remembered to tell a lagging playlist from a restart
constexpr size_t HLS_DOWNLOADER_ERROR_SIZE = 256;
constexpr size_t SEGMENT_FETCH_ERROR_SIZE = 128;
// The largest segment taken; far above any real one (a 4K stream at 60 Mb/s
// makes about 45 MB in 6 s). Six of them at once fit the ring's budget.
constexpr size_t HLS_SEGMENT_MAX_BYTES = size_t{64} << 20;
static_assert(HLS_PARALLEL_FETCHES * HLS_SEGMENT_MAX_BYTES <= SEGMENT_RING_BYTE_BUDGET);

// The segments delivered (or recorded) last, oldest first, at most
// HLS_RECENT_SEGMENTS of them.
struct HlsSegmentHistory {
    std::deque<SegmentLabel> segments;
};

// Adds `segment` (its sequence and path) as the newest.
void hls_history_add(HlsSegmentHistory* history, const SegmentLabel& segment);

// One segment download, owned by the downloader; its thread touches only this.
struct SegmentFetchJob {
    std::string url;
    int64_t sequence = 0;
    bool discontinuity = false;                    // the playlist marked a discontinuity before it
    uint32_t timeout_ms = HLS_SEGMENT_TIMEOUT_MS;  // the stall limit for a live segment
    ByteBuffer body;
    bool result = false;
    uint32_t status = 0;
    char error_text[SEGMENT_FETCH_ERROR_SIZE] = {};
    HttpCancel* cancel = nullptr;        // the ring's, so tear-down cuts the download short
    SegmentFetchLatch* latch = nullptr;  // counted down when the fetch is over
};

// Pause between two polls of a playlist with this target duration.
[[nodiscard]] uint32_t hls_poll_pause_ms(uint32_t target_duration);

// How long a live playlist with this target duration (0 counts as 2) may go
// without a new segment: three target durations, the least a live playlist
// must list, so by then everything the origin offered has been played; and
// at least 10 s, so an origin's short hiccup does not cost a reconnect.
[[nodiscard]] uint32_t hls_stall_limit_ms(uint32_t target_duration);

// Starts a downloader for `playlist_url` on a new ring (see
// segment_ring_start); the engine takes segments and tears the ring down.
// With `recorded` (copied) it joins after those segments.
[[nodiscard]] SegmentRing* hls_downloader_start(std::string_view playlist_url, Event* stop_event,
                                                const HlsSegmentHistory* recorded = nullptr);

// The downloader thread's body, on a ring made by hls_downloader_start. Returns 0.
int hls_downloader_thread(SegmentRing* ring, const HlsSegmentHistory& recorded);

// One segment fetch: result = http_get(url, timeout_ms, ...). Returns 0.
int segment_fetch_thread(SegmentFetchJob* job);
