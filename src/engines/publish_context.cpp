// The media chain of a publishing run, from segment bytes to the output.
#include "engines/publish_context.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/text/error_text.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"

void publish_context_bind(PublishContext& context, const EngineRun& run) {
    context.run = &run;
    context.pacer.stop_event = run.stop_event;
    context.pacer.stats = run.stats;
    context.recording.history = run.hooks.recorded;
    context.health = run.health;
}

namespace {

// The one output's figures; null with several (each link keeps its own).
OutputHealth* single_output_health(PublishContext& context) {
    return context.output.links.empty() ? health_output(context.health, 1) : nullptr;
}

}  // namespace

bool publish_flush(PublishContext& context) {
    if (context.pacer.batch.empty()) return true;
    PacerMessages messages;
    bool sent = output_send_batch(context.output, pacer_batch(context.pacer, messages));
    if (sent) health_output_sent(single_output_health(context), tick_ms(), context.pacer.batch_bytes.size());
    if (!sent && context.output.publisher) {
        const char* why = context.output.publisher->error[0] ? context.output.publisher->error : "RTMP send failed";
        health_output_state(single_output_health(context), tick_ms(), OutputState::reconnecting, why);
    }
    pacer_clear(context.pacer);
    return sent;
}

int paced_send(void* opaque, const FlvTag& tag) {
    auto& context = *static_cast<PublishContext*>(opaque);
    const int64_t place = timeline_place(context.timeline, tag.type, tag.timestamp_ms);
    const PacerSlot slot = pacer_slot(context.pacer, place);
    uint64_t now = tick_ms();
    if (now < slot.release && !publish_flush(context)) return 0;
    if (!pacer_wait(context.pacer, slot.release, &now)) return 0;
    // RTMP timestamps are 32 bits wide and wrap; the low bits keep the steps.
    const auto wire = static_cast<uint32_t>(static_cast<uint64_t>(place));
    health_media_tag(context.health, now, tag, place);
    health_output_lateness(single_output_health(context), now, now - slot.due);
    if (!pacer_gather(context.pacer, tag, wire, now - slot.due)) return 1;
    return publish_flush(context) ? 1 : 0;
}

void publish_notice(const PublishContext& context, const char* text) {
    if (context.run && context.run->hooks.notice) context.run->hooks.notice(context.run->hooks.context, text);
}

void publish_report_damage(PublishContext& context) {
    if (!context.demuxer || context.demuxer->skipped_bytes == 0) return;
    std::string text = string_printf("MPEG-TS damaged: skipped %llu bytes to the next packet",
                                     static_cast<unsigned long long>(context.demuxer->skipped_bytes));
    context.demuxer->skipped_bytes = 0;
    publish_notice(context, text.c_str());
}

bool publish_context_start_media(PublishContext& context) {
    context.demuxer.reset();
    context.packetizer.reset(flv_packetizer_create(paced_send, &context));
    if (context.packetizer) context.demuxer.reset(ts_demuxer_create(flv_packetizer_push, context.packetizer.get()));
    return context.packetizer && context.demuxer;
}

void publish_record_segment(PublishContext& context, std::span<const uint8_t> segment, const SegmentLabel& label) {
    if (!recording_is_open(context.recording)) return;
    int error_number = recording_append(context.recording, segment, label);
    if (error_number == 0) health_recording_written(context.health, segment.size());
    if (error_number != 0) {
        health_recording_failed(context.health);
        std::string text = string_printf("Recording stopped, stream goes on: write failed (%s)",
                                         std::generic_category().message(error_number).c_str());
        publish_notice(context, text.c_str());
    }
}

EngineResult publish_segment(PublishContext& context, std::span<const uint8_t> segment, std::span<char> error,
                             const SegmentLabel& label) {
    publish_record_segment(context, segment, label);
    if (label.discontinuity) timeline_rebase(context.timeline);
    bool fed = ts_demuxer_feed(context.demuxer.get(), segment, error) && ts_demuxer_flush(context.demuxer.get()) &&
               publish_flush(context);
    publish_report_damage(context);
    if (fed) return EngineResult::done;
    error_set_if_empty(error, "MPEG-TS processing failed");
    return publish_failure(context);
}

bool publish_stopped(const PublishContext& context) {
    return event_is_set(context.pacer.stop_event);
}

EngineResult publish_failure(const PublishContext& context) {
    return publish_stopped(context) ? EngineResult::stopped : EngineResult::failed;
}

std::optional<std::string> to_utf8(std::string_view text) {
    if (text.empty() || !utf8_is_valid(text)) return std::nullopt;
    return std::string(text);
}

std::optional<std::vector<std::string>> output_urls_utf8(std::string_view first, const std::vector<std::string>& more) {
    std::vector<std::string> urls;
    for (size_t at = 0; at <= more.size(); ++at) {
        std::optional<std::string> url = to_utf8(at == 0 ? first : std::string_view(more[at - 1]));
        if (!url) return std::nullopt;
        urls.push_back(std::move(*url));
    }
    return urls;
}

namespace {

// True when the context took over the outputs the run's last attempt kept.
bool take_kept_outputs(PublishContext& context, std::span<const std::string> urls) {
    KeptOutputs* kept = context.run ? context.run->hooks.kept_outputs : nullptr;
    if (!kept || kept->output.links.empty()) return false;
    KeptOutputs taken = std::exchange(*kept, {});
    if (!std::ranges::equal(taken.urls, urls) || taken.numbers != context.run->hooks.output_numbers) return false;
    context.output = std::move(taken.output);
    context.output.checking_headers = true;
    context.timeline = taken.timeline;
    timeline_rebase(context.timeline);
    // The pacer's clock starts at the first tag, which lands one frame on.
    context.pacer.origin = context.timeline.highest + TIMELINE_REBASE_GAP_MS;
    return true;
}

}  // namespace

void publish_keep_outputs(PublishContext& context, std::span<const std::string> urls) {
    KeptOutputs* kept = context.run ? context.run->hooks.kept_outputs : nullptr;
    if (!kept || context.output.links.empty()) return;
    *kept = KeptOutputs{.urls = {urls.begin(), urls.end()},
                        .numbers = context.run->hooks.output_numbers,
                        .output = std::move(context.output),
                        .timeline = context.timeline};
}

bool publish_open_outputs(PublishContext& context, std::span<const std::string> urls, std::span<char> error) {
    if (take_kept_outputs(context, urls)) return true;
    OutputReport report{.health = context.health};
    std::span<const size_t> numbers;
    if (context.run) {
        report.status = context.run->hooks.output_status;
        report.context = context.run->hooks.context;
        numbers = context.run->hooks.output_numbers;
    }
    const bool opened = output_open(context.output, urls, context.pacer.stop_event, report, numbers, error);
    if (urls.size() == 1) {
        health_output_state(health_output(context.health, 1), tick_ms(),
                            opened ? OutputState::connected : OutputState::reconnecting,
                            opened ? std::string_view() : error_view(error));
    }
    return opened;
}
