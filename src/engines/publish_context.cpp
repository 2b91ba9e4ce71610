// Pacing and per-segment publishing shared by the engines.
#include "engines/publish_context.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/text.h"

int paced_send(void* opaque, const FlvTag& tag) {
    auto& context = *static_cast<PublishContext*>(opaque);
    uint32_t sent = context.timestamp_offset + tag.timestamp_ms;
    if (!context.pacing_started) {
        context.pacing_started = true;
        context.pacing_start = tick_ms();
    }
    uint64_t due = context.pacing_start + sent;
    due = due >= context.pacing_origin ? due - context.pacing_origin : 0;
    for (uint64_t now = tick_ms(); now < due; now = tick_ms()) {
        uint32_t slice = static_cast<uint32_t>(std::min<uint64_t>(due - now, PACING_SLICE_MS));
        if (event_wait_ms(context.stop_event, slice)) return 0;
    }
    if (context.stats) {
        context.stats->lateness_ms.push_back(static_cast<uint32_t>(tick_ms() - due));
        context.stats->tag_types.push_back(tag.type);
    }
    context.highest_timestamp = std::max(context.highest_timestamp, sent);
    ++context.tags_sent;
    return rtmp_send_media(context.publisher.get(), tag.type, sent, tag.body) ? 1 : 0;
}

bool publish_context_start_media(PublishContext& context) {
    context.demuxer.reset();
    context.packetizer.reset(flv_packetizer_create(paced_send, &context));
    if (context.packetizer) context.demuxer.reset(ts_demuxer_create(flv_packetizer_push, context.packetizer.get()));
    return context.packetizer && context.demuxer;
}

bool publish_segment(PublishContext& context, std::span<const uint8_t> segment, std::span<char> error) {
    if (context.recording && std::fwrite(segment.data(), 1, segment.size(), context.recording.get()) != segment.size()) {
        error_printf(error, "%s", "recording write failed");
        return false;
    }
    if (!ts_demuxer_feed(context.demuxer.get(), segment, error) || !ts_demuxer_flush(context.demuxer.get())) {
        error_set_if_empty(error, "MPEG-TS processing failed");
        return false;
    }
    if (context.recording) std::fflush(context.recording.get());
    return true;
}

bool publish_stopped(const PublishContext& context) {
    return context.stop_event && context.stop_event->is_set();
}

std::optional<std::string> to_utf8(std::string_view text) {
    if (text.empty() || !utf8_is_valid(text)) return std::nullopt;
    return std::string(text);
}
