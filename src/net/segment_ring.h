// SegmentRing: the only channel between a producer thread (the HLS
// downloader, which starts the ring with its own thread body) and the engine
// that reads the live source (consumer).
//
//   downloader --put--> [8 slots: whole segments, in sequence order] --take--> engine
//
// Each slot holds one complete segment; buffers are moved in and out, never
// copied. Besides the bytes the ring carries the downloader's marks: `ended`
// (its thread has finished, whatever the reason) and `failed` (a fatal error,
// with `error_text`; the engine also sets it at tear-down to abandon the
// downloads). Every field is guarded by `lock`; waits last at most 500 ms and
// re-read the stop event and the marks afterwards.
//
// Lifetime: the ring is shared by the engine and the downloader thread and
// freed by whichever lets go last. Tear-down waits (5000 ms by default) for
// the thread to end and then joins it; if the wait runs out, the engine lets
// go anyway and the thread frees the ring on its way out. Tear-down also
// detaches the engine's stop event from the ring, so a late downloader never
// touches an event its workflow may already have freed: from then on only
// the `failed` mark stops it. Requests in flight are cancelled as soon as the
// stop event is set (a listener on it) and again at tear-down, so in practice
// the thread ends within a few milliseconds, also in the middle of a connect.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "net/byte_buffer.h"
#include "net/http_client.h"
#include "platform/time/event.h"

constexpr uint32_t SEGMENT_RING_SLOTS = 8;
constexpr uint32_t SEGMENT_RING_WAIT_MS = 500;  // one wait slice on a full or an empty ring
constexpr size_t SEGMENT_RING_ERROR_SIZE = 256;
constexpr uint32_t SEGMENT_RING_TEARDOWN_WAIT_MS = 5000;
// The bytes a downloader may hold in the ring and in flight together: a
// full batch of the largest segments it takes (six of 64 MiB) beside one
// more's worth in the ring, so a ring of ordinary segments (a few MB each)
// never narrows a catch-up batch. Only an origin serving huge segments to a
// slow engine reaches it; fetches then wait for the engine.
constexpr uint64_t SEGMENT_RING_BYTE_BUDGET = uint64_t{448} << 20;

// What the producer knows of a segment besides its bytes.
struct SegmentLabel {
    int64_t sequence = -1;       // its media sequence number; -1 when unknown
    std::string path;            // its URL without query (signed URLs change their tokens)
    bool discontinuity = false;  // the playlist marked a discontinuity before it
};

// What the downloader saw of the source, for the run's health figures.
struct SegmentRingSource {
    int64_t newest_listed = -1;    // media sequence of the last segment of the latest playlist; -1 none yet
    uint32_t target_duration = 0;  // seconds, of that playlist
    uint64_t fetch_failures = 0;   // segment requests that failed, over the ring's life
};

struct SegmentRing {
    ByteBuffer slots[SEGMENT_RING_SLOTS];
    SegmentLabel slot_labels[SEGMENT_RING_SLOTS];  // beside each slot's segment
    uint32_t read_index = 0;                       // advanced only by the engine
    uint32_t write_index = 0;                      // advanced only by the downloader
    uint32_t count = 0;                            // filled slots, 0-8
    uint64_t bytes = 0;                            // held in the filled slots
    bool ended = false;
    bool failed = false;
    char error_text[SEGMENT_RING_ERROR_SIZE] = {};
    SegmentRingSource source;  // the downloader's view of the playlist, for health figures
    std::mutex lock;
    std::condition_variable not_empty;        // signalled per delivery and at the downloader's end
    std::condition_variable not_full;         // signalled per take and at tear-down
    std::string playlist_url;                 // our own copy; also the base for relative references
    Event* stop_event = nullptr;              // borrowed from the engine until tear-down
    HttpCancel cancel;                        // the downloader's requests
    std::optional<EventListener> stop_watch;  // cancels them when the stop event is set
    std::thread downloader;
    std::atomic<int> references{0};

    SegmentRing() = default;
    SegmentRing(const SegmentRing&) = delete;
    SegmentRing& operator=(const SegmentRing&) = delete;
    ~SegmentRing();
};

// ---- engine side -------------------------------------------------------

// Why a take gave no segment, in order of precedence.
enum class SegmentTake { segment, stopped, failed, ended };

// The producer's thread body; its result is ignored.
using SegmentRingProducer = std::function<int(SegmentRing* ring)>;

// Sets up a ring for `playlist_url` (copied) and `stop_event` (borrowed until
// tear-down; may be nullptr) and starts `producer` on a thread of its own.
// Returns nullptr when the thread cannot be started; there is then nothing
// to tear down.
[[nodiscard]] SegmentRing* segment_ring_start(std::string_view playlist_url, Event* stop_event,
                                              SegmentRingProducer producer);

// Takes the oldest segment into `segment` (freed first), waiting in 500 ms
// slices while the ring is empty and neither stopped, failed nor ended. On
// SegmentTake::segment the engine owns the bytes (byte_buffer_free them).
// Otherwise `segment` is empty and the result says why: the stop event is
// signalled, the downloader failed (see segment_ring_error), or the source
// has no more segments. Segments already in the ring are taken even after a
// stop. `label`, when given, receives what the producer knew of the segment.
[[nodiscard]] SegmentTake segment_ring_take(SegmentRing* ring, ByteBuffer* segment, SegmentLabel* label = nullptr);

struct SegmentRingMarks {
    bool ended = false;
    bool failed = false;
};
[[nodiscard]] SegmentRingMarks segment_ring_marks(SegmentRing* ring);
[[nodiscard]] SegmentRingSource segment_ring_source(SegmentRing* ring);
// Copies the downloader's fatal error text (possibly empty) into `out`.
void segment_ring_error(SegmentRing* ring, std::span<char> out);

// Abandons the downloads (sets failed unless the downloader has already
// ended), wakes every waiter, cancels requests in flight and waits up to
// `wait_ms` for the downloader to end. Afterwards the engine must not use
// `ring` again; segments still in it are freed with it. Accepts nullptr.
void segment_ring_teardown(SegmentRing* ring, uint32_t wait_ms = SEGMENT_RING_TEARDOWN_WAIT_MS);

// An engine's hold on a ring: tear-down (with the default wait) when it goes.
struct SegmentRingTeardown {
    void operator()(SegmentRing* ring) const { segment_ring_teardown(ring); }
};
using SegmentRingPtr = std::unique_ptr<SegmentRing, SegmentRingTeardown>;

// Producer threads that have not finished yet, in the whole process
// (a torn-down ring's thread may still be on its way out).
[[nodiscard]] int segment_ring_downloaders_running();

// ---- downloader side ---------------------------------------------------

// True when the downloader should stop: the stop event is signalled or the
// ring was abandoned (failed set).
[[nodiscard]] bool segment_ring_should_stop(SegmentRing* ring);
// Waits up to `ms`; true as soon as segment_ring_should_stop holds.
[[nodiscard]] bool segment_ring_pause(SegmentRing* ring, uint32_t ms);
// Moves `segment` into the next slot, waiting in 500 ms slices while the ring
// is full. False (segment left with the caller) when the ring was abandoned or
// the stop event was signalled first.
[[nodiscard]] bool segment_ring_put(SegmentRing* ring, ByteBuffer* segment, SegmentLabel label = {});
// The budget left beside the segments in the ring, once it is at least
// `wanted`: waits in 500 ms slices while it is less (the engine is behind),
// and sets *waited when it did. 0 when the ring was abandoned or the stop
// event was signalled first.
[[nodiscard]] uint64_t segment_ring_wait_room(SegmentRing* ring, uint64_t wanted, bool* waited);
// Notes the latest playlist's last media sequence and target duration.
void segment_ring_note_playlist(SegmentRing* ring, int64_t newest_listed, uint32_t target_duration);
// Counts a failed segment request.
void segment_ring_note_fetch_failure(SegmentRing* ring);
// Marks a fatal error: failed, with `error` (cut to 255 bytes) as the reason.
void segment_ring_fail(SegmentRing* ring, std::string_view error);
// Marks the downloader's end and wakes the engine.
void segment_ring_finish(SegmentRing* ring);
