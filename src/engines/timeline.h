// The publishing timeline: one per connection, in signed 64-bit
// milliseconds, that never goes back and never stalls. A tag's place is its
// source time plus `offset`. When that place lies more than TIMELINE_JUMP_MS
// away from the highest place so far (a source clock that jumped either
// way, a clock reset, a gap), or a rebase was asked for (a discontinuity, a
// new source URL), the offset is rebased so the tag lands
// TIMELINE_REBASE_GAP_MS after the highest place; audio and video share the
// offset, so they stay in step. Within a stream a tag never goes below the
// last one of its kind. Loop passes continue the timeline one millisecond
// above the pass before.
#pragma once

#include <cstdint>

// A step of the timeline larger than this, either way, is a jump.
constexpr int64_t TIMELINE_JUMP_MS = 2000;
// Where a rebased tag lands after the highest place: one frame.
constexpr int64_t TIMELINE_REBASE_GAP_MS = 33;

struct Timeline {
    int64_t offset = 0;
    int64_t highest = 0;
    int64_t last_audio = 0;
    int64_t last_video = 0;
    bool started = false;         // a tag has been placed
    bool rebase_pending = false;  // the next tag starts a new source clock
    uint64_t rebases = 0;
};

// A timeline whose first tag at source time 0 lands at `at` (0 in a normal run).
[[nodiscard]] Timeline timeline_starting_at(int64_t at);

// The place of a tag of FLV `type` at `source_ms` (see above); moves the
// offset, the per-kind floors and the highest place on.
[[nodiscard]] int64_t timeline_place(Timeline& timeline, uint8_t type, int64_t source_ms);

// The next tag starts a new source clock: it is rebased whatever its step.
void timeline_rebase(Timeline& timeline);

// A loop pass ended: the next starts one millisecond above the highest place.
void timeline_next_pass(Timeline& timeline);
