// Pacing and per-segment publishing shared by the engines.
#include "engines/publish_context.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"

int64_t timeline_place(PublishContext& context, uint8_t type, int64_t source_ms) {
    int64_t place = context.timestamp_offset + source_ms;
    const int64_t highest = context.highest_timestamp;
    const bool jumped = place > highest + TIMELINE_JUMP_MS || place < highest - TIMELINE_JUMP_MS;
    if (context.timeline_started && (context.rebase_pending || jumped)) {
        context.timestamp_offset = highest + TIMELINE_REBASE_GAP_MS - source_ms;
        place = highest + TIMELINE_REBASE_GAP_MS;
        ++context.rebases;
    }
    context.rebase_pending = false;
    context.timeline_started = true;
    int64_t& last = type == FLV_TAG_AUDIO ? context.last_audio_timestamp : context.last_video_timestamp;
    place = std::max({place, last, int64_t{0}});
    last = place;
    context.highest_timestamp = std::max(highest, place);
    return place;
}

bool publish_flush(PublishContext& context) {
    if (context.batch.empty()) return true;
    std::array<RtmpMediaMessage, PACING_BATCH_MAX> messages;
    size_t count = 0;
    for (const PendingTag& tag : context.batch) {
        messages[count++] = {tag.type, tag.wire_timestamp,
                             std::span<const uint8_t>(context.batch_bytes).subspan(tag.offset, tag.size)};
    }
    context.batch.clear();
    context.batch_bytes.clear();
    return rtmp_send_media_batch(context.publisher.get(), std::span(messages).first(count));
}

int paced_send(void* opaque, const FlvTag& tag) {
    auto& context = *static_cast<PublishContext*>(opaque);
    const int64_t sent = timeline_place(context, tag.type, tag.timestamp_ms);
    if (!context.pacing_started) {
        context.pacing_started = true;
        context.pacing_start = tick_ms();
    }
    const auto since_start = static_cast<uint64_t>(std::max<int64_t>(sent - context.pacing_origin, 0));
    const uint64_t due = context.pacing_start + since_start;
    const uint64_t release =
        context.pacing_start + (since_start + PACING_GATHER_MS - 1) / PACING_GATHER_MS * PACING_GATHER_MS;
    uint64_t now = tick_ms();
    if (now < release && !publish_flush(context)) return 0;
    for (; now < release; now = tick_ms()) {
        uint32_t slice = static_cast<uint32_t>(std::min<uint64_t>(release - now, PACING_SLICE_MS));
        if (event_wait_ms(context.stop_event, slice)) return 0;
    }
    if (context.stats) {
        context.stats->lateness_ms.push_back(static_cast<uint32_t>(now - due));
        context.stats->tag_types.push_back(tag.type);
    }
    ++context.tags_sent;
    // RTMP timestamps are 32 bits wide and wrap; the low bits keep the steps.
    const auto wire = static_cast<uint32_t>(static_cast<uint64_t>(sent));
    context.batch.push_back({tag.type, wire, context.batch_bytes.size(), tag.body.size()});
    context.batch_bytes.insert(context.batch_bytes.end(), tag.body.begin(), tag.body.end());
    if (context.batch.size() < PACING_BATCH_MAX) return 1;
    return publish_flush(context) ? 1 : 0;
}

void publish_notice(const PublishContext& context, const char* text) {
    if (context.notice) context.notice(context.notice_context, text);
}

void publish_report_damage(PublishContext& context) {
    if (!context.demuxer || context.demuxer->skipped_bytes == 0) return;
    std::string text = string_printf("MPEG-TS damaged: skipped %llu bytes to the next packet",
                                     static_cast<unsigned long long>(context.demuxer->skipped_bytes));
    context.demuxer->skipped_bytes = 0;
    publish_notice(context, text.c_str());
}

bool publish_open_recording(PublishContext& context, const std::string& path) {
    context.recording.reset(file_open(path, "ab"));
    context.recording_path = path;
    // Not ftell: its long is 32 bits on Windows, and a day's recording is larger.
    const int64_t size = regular_file_size(path);
    context.recording_size = size > 0 ? static_cast<uint64_t>(size) : 0;
    return context.recording != nullptr;
}

bool publish_context_start_media(PublishContext& context) {
    context.demuxer.reset();
    context.packetizer.reset(flv_packetizer_create(paced_send, &context));
    if (context.packetizer) context.demuxer.reset(ts_demuxer_create(flv_packetizer_push, context.packetizer.get()));
    return context.packetizer && context.demuxer;
}

namespace {

// Stops the recording after a failed write: the file is cut back to its
// last whole segment, so a loop over it never meets half a segment.
void stop_recording(PublishContext& context, int error_number) {
    context.recording.reset();
    std::error_code ignored;
    const auto* utf8 = reinterpret_cast<const char8_t*>(context.recording_path.c_str());
    std::filesystem::resize_file(std::filesystem::path(utf8), context.recording_size, ignored);
    std::string text = string_printf("Recording stopped, stream goes on: write failed (%s)",
                                     std::generic_category().message(error_number).c_str());
    publish_notice(context, text.c_str());
}

}  // namespace

void publish_record_segment(PublishContext& context, std::span<const uint8_t> segment, const SegmentLabel& label) {
    if (!context.recording) return;
    errno = 0;
    FILE* file = context.recording.get();
    if (std::fwrite(segment.data(), 1, segment.size(), file) != segment.size() || std::fflush(file) != 0) {
        stop_recording(context, errno != 0 ? errno : EIO);
        return;
    }
    context.recording_size += segment.size();
    if (context.recorded && label.sequence >= 0) hls_history_add(context.recorded, label);
}

EngineResult publish_segment(PublishContext& context, std::span<const uint8_t> segment, std::span<char> error,
                             const SegmentLabel& label) {
    publish_record_segment(context, segment, label);
    if (label.discontinuity) context.rebase_pending = true;
    bool fed = ts_demuxer_feed(context.demuxer.get(), segment, error) && ts_demuxer_flush(context.demuxer.get()) &&
               publish_flush(context);
    publish_report_damage(context);
    if (fed) return EngineResult::done;
    error_set_if_empty(error, "MPEG-TS processing failed");
    return publish_failure(context);
}

bool publish_stopped(const PublishContext& context) {
    return context.stop_event && context.stop_event->is_set();
}

EngineResult publish_failure(const PublishContext& context) {
    return publish_stopped(context) ? EngineResult::stopped : EngineResult::failed;
}

void publish_context_bind(PublishContext& context, const EngineRun& run) {
    context.stop_event = run.stop_event;
    context.stats = run.stats;
    context.notice = run.hooks.notice;
    context.notice_context = run.hooks.context;
    context.recorded = run.hooks.recorded;
}

std::optional<std::string> to_utf8(std::string_view text) {
    if (text.empty() || !utf8_is_valid(text)) return std::nullopt;
    return std::string(text);
}
