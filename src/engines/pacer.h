// Wall-clock pacing: the first tag of a run fixes `start`; from then on a
// tag at timeline place t is never sent before start + t - origin. Release
// times are rounded up to a grid of PACING_GATHER_MS from `start`, so the
// tags that fall due at one grid point are gathered (copied into the batch)
// and written together, with one wake-up, when the next tag needs a wait,
// when PACING_BATCH_MAX are waiting, or at the end of each segment or pass.
// Waits go in slices of at most PACING_SLICE_MS on the stop event. There is
// no dropping, reordering or catching up.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "media/flv_packetizer.h"
#include "platform/time/event.h"
#include "rtmp/rtmp_publisher.h"

constexpr uint32_t PACING_SLICE_MS = 100;
// The release grid: a tag goes out at most this much after its due time.
constexpr uint64_t PACING_GATHER_MS = 40;
constexpr size_t PACING_BATCH_MAX = 16;

// Lateness of each tag against its due time, for measurements; the pacer
// records into it only when one is attached.
struct PacingStats {
    std::vector<uint32_t> lateness_ms;
    std::vector<uint8_t> tag_types;  // beside each lateness: 8 audio, 9 video
};

// A tag waiting in the batch: its body lies in batch_bytes at `offset`.
struct PendingTag {
    uint8_t type = 0;
    uint32_t wire_timestamp = 0;
    size_t offset = 0;
    size_t size = 0;
};

struct Pacer {
    Event* stop_event = nullptr;
    uint64_t start = 0;
    bool started = false;
    // The timeline place that falls due at `start`: 0, unless a run starts
    // with an offset already on its timeline.
    int64_t origin = 0;
    uint64_t tags_sent = 0;
    PacingStats* stats = nullptr;
    std::vector<PendingTag> batch;
    std::vector<uint8_t> batch_bytes;
};

// When a tag falls due and when it is released (on the grid).
struct PacerSlot {
    uint64_t due = 0;
    uint64_t release = 0;
};

// The slot of a tag at timeline place `place`; the first tag starts the clock.
[[nodiscard]] PacerSlot pacer_slot(Pacer& pacer, int64_t place);

// Waits from `*now` until `release`, in slices on the stop event, leaving
// the time it woke in `*now`; false when the stop event came first.
[[nodiscard]] bool pacer_wait(const Pacer& pacer, uint64_t release, uint64_t* now);

// Gathers a released tag with its wire timestamp and its lateness; true
// when the batch is full and must be written now.
[[nodiscard]] bool pacer_gather(Pacer& pacer, const FlvTag& tag, uint32_t wire_timestamp, uint64_t lateness_ms);

using PacerMessages = std::array<RtmpMediaMessage, PACING_BATCH_MAX>;

// The gathered tags as media messages in `messages` (valid until the batch
// is cleared).
[[nodiscard]] std::span<const RtmpMediaMessage> pacer_batch(const Pacer& pacer, PacerMessages& messages);

// Empties the batch once it was written.
void pacer_clear(Pacer& pacer);
