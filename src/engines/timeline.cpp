// Placing tags on the publishing timeline.
#include "engines/timeline.h"

#include <algorithm>

#include "media/flv_packetizer.h"

Timeline timeline_starting_at(int64_t at) {
    return Timeline{.offset = at, .highest = at};
}

int64_t timeline_place(Timeline& timeline, uint8_t type, int64_t source_ms) {
    int64_t place = timeline.offset + source_ms;
    const int64_t highest = timeline.highest;
    const bool jumped = place > highest + TIMELINE_JUMP_MS || place < highest - TIMELINE_JUMP_MS;
    if (timeline.started && (timeline.rebase_pending || jumped)) {
        timeline.offset = highest + TIMELINE_REBASE_GAP_MS - source_ms;
        place = highest + TIMELINE_REBASE_GAP_MS;
        ++timeline.rebases;
    }
    timeline.rebase_pending = false;
    timeline.started = true;
    int64_t& last = type == FLV_TAG_AUDIO ? timeline.last_audio : timeline.last_video;
    place = std::max({place, last, int64_t{0}});
    last = place;
    timeline.highest = std::max(highest, place);
    return place;
}

void timeline_rebase(Timeline& timeline) {
    timeline.rebase_pending = true;
}

void timeline_next_pass(Timeline& timeline) {
    timeline.offset = timeline.highest + 1;
}
