// Release times, waits and the gathered batch of the pacing clock.
#include "engines/pacer.h"

#include <algorithm>

#include "platform/time/clock.h"

PacerSlot pacer_slot(Pacer& pacer, int64_t place) {
    if (!pacer.started) {
        pacer.started = true;
        pacer.start = tick_ms();
    }
    const auto since_start = static_cast<uint64_t>(std::max<int64_t>(place - pacer.origin, 0));
    return PacerSlot{
        .due = pacer.start + since_start,
        .release = pacer.start + (since_start + PACING_GATHER_MS - 1) / PACING_GATHER_MS * PACING_GATHER_MS,
    };
}

bool pacer_wait(const Pacer& pacer, uint64_t release, uint64_t* now) {
    for (; *now < release; *now = tick_ms()) {
        auto slice = static_cast<uint32_t>(std::min<uint64_t>(release - *now, PACING_SLICE_MS));
        if (event_wait_ms(pacer.stop_event, slice)) return false;
    }
    return true;
}

bool pacer_gather(Pacer& pacer, const FlvTag& tag, uint32_t wire_timestamp, uint64_t lateness_ms) {
    if (pacer.stats) {
        pacer.stats->lateness_ms.push_back(static_cast<uint32_t>(lateness_ms));
        pacer.stats->tag_types.push_back(tag.type);
    }
    ++pacer.tags_sent;
    pacer.batch.push_back({tag.type, wire_timestamp, pacer.batch_bytes.size(), tag.body.size()});
    pacer.batch_bytes.insert(pacer.batch_bytes.end(), tag.body.begin(), tag.body.end());
    return pacer.batch.size() >= PACING_BATCH_MAX;
}

std::span<const RtmpMediaMessage> pacer_batch(const Pacer& pacer, PacerMessages& messages) {
    size_t count = 0;
    for (const PendingTag& tag : pacer.batch) {
        messages[count++] = {tag.type, tag.wire_timestamp,
                             std::span<const uint8_t>(pacer.batch_bytes).subspan(tag.offset, tag.size)};
    }
    return std::span(messages).first(count);
}

void pacer_clear(Pacer& pacer) {
    pacer.batch.clear();
    pacer.batch_bytes.clear();
}
