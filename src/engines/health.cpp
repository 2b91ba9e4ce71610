// The per-second windows, the feeding points and the snapshot of a run's figures.
#include "engines/health.h"

#include <algorithm>

#include "media/h264_sps.h"

namespace {

constexpr auto RELAXED = std::memory_order_relaxed;
constexpr uint32_t FLV_CODEC_AVC = 7, FLV_SOUND_AAC = 10, FLV_KEY_FRAME = 1;
constexpr uint8_t FLV_SEQUENCE_HEADER = 0, FLV_MEDIA = 1;
constexpr size_t AVC_RECORD_AT = 5;  // the AVCDecoderConfigurationRecord in a video tag body
constexpr uint32_t AAC_RATES[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                  22050, 16000, 12000, 11025, 8000,  7350};

uint64_t load(const HealthCounter& counter) {
    return counter.load(RELAXED);
}

void bump(HealthCounter& counter, uint64_t amount = 1) {
    counter.store(counter.load(RELAXED) + amount, RELAXED);  // one writer: no read-modify-write needed
}

// The slot of `second`, emptied first when it still holds an older second.
template <size_t Slots>
HealthCounter& slot_for(HealthSeconds<Slots>& seconds, uint64_t second) {
    const size_t at = second % Slots;
    if (seconds.stamp[at].load(RELAXED) != second + 1) {
        seconds.value[at].store(0, RELAXED);
        seconds.stamp[at].store(second + 1, RELAXED);
    }
    return seconds.value[at];
}

// The value kept for `second`, 0 when its slot holds another.
template <size_t Slots>
uint64_t value_of(const HealthSeconds<Slots>& seconds, uint64_t second) {
    const size_t at = second % Slots;
    return seconds.stamp[at].load(RELAXED) == second + 1 ? seconds.value[at].load(RELAXED) : 0;
}

int64_t age_of(uint64_t tick, uint64_t now_ms) {
    return tick == 0 ? -1 : static_cast<int64_t>(now_ms - std::min(tick, now_ms));
}

// ---- media ----

void note_video_header(MediaHealth& media, std::span<const uint8_t> body) {
    // version, profile, compatibility, level, length size, SPS count, SPS length (16 bits), SPS
    constexpr size_t SPS_AT = AVC_RECORD_AT + 8;
    if (body.size() < SPS_AT || (body[AVC_RECORD_AT + 5] & 0x1F) == 0) return;
    const size_t length = size_t{body[AVC_RECORD_AT + 6]} << 8 | body[AVC_RECORD_AT + 7];
    H264SpsInfo sps;
    if (body.size() - SPS_AT < length || !h264_parse_sps(body.subspan(SPS_AT, length), &sps)) return;
    media.profile_idc.store(sps.profile_idc, RELAXED), media.constraint_flags.store(sps.constraint_flags, RELAXED);
    media.level_idc.store(sps.level_idc, RELAXED);
    media.width.store(sps.width, RELAXED), media.height.store(sps.height, RELAXED);
    media.rate_num.store(sps.frame_rate_num, RELAXED), media.rate_den.store(sps.frame_rate_den, RELAXED);
}

void note_video(MediaHealth& media, uint64_t now_ms, std::span<const uint8_t> body, int64_t place) {
    if (body.size() < 2) return;
    media.video_codec.store(body[0] & 0x0Fu, RELAXED);
    if ((body[0] & 0x0F) != FLV_CODEC_AVC) return;
    if (body[1] == FLV_SEQUENCE_HEADER) note_video_header(media, body);
    if (body[1] != FLV_MEDIA) return;
    rate_window_add(media.video_frames, now_ms, 1);
    media.last_video_place = place;
    if ((body[0] >> 4) != FLV_KEY_FRAME) return;
    if (media.last_key_place >= 0 && place >= media.last_key_place) {
        const int64_t interval = place - media.last_key_place;
        media.key_interval_ms.store(interval, RELAXED);
        peak_window_note(media.key_interval_peak, now_ms, static_cast<uint64_t>(interval));
    }
    media.last_key_place = place;
}

void note_audio(MediaHealth& media, std::span<const uint8_t> body, int64_t place) {
    if (body.empty()) return;
    media.audio_codec.store(body[0] >> 4, RELAXED);
    if ((body[0] >> 4) != FLV_SOUND_AAC || body.size() < 2) return;
    if (body[1] == FLV_SEQUENCE_HEADER && body.size() >= 4) {
        // AudioSpecificConfig: object type (5 bits), rate index (4), channel configuration (4)
        const uint32_t rate_index = (body[2] & 0x07u) << 1 | body[3] >> 7;
        const uint32_t channels = (body[3] >> 3) & 0x0Fu;
        media.audio_rate.store(rate_index < std::size(AAC_RATES) ? AAC_RATES[rate_index] : 0, RELAXED);
        media.audio_channels.store(channels == 7 ? 8 : channels, RELAXED);  // 7 is the 7.1 layout
    }
    if (body[1] != FLV_MEDIA) return;
    media.last_audio_place = place;
    if (media.last_video_place >= 0) media.av_offset_ms.store(place - media.last_video_place, RELAXED);
}

// ---- reading ----

OutputSnapshot output_snapshot(const OutputHealth& output, size_t number, uint64_t now_ms) {
    OutputSnapshot shot;
    shot.number = number;
    shot.state = static_cast<OutputState>(output.state.load(RELAXED) - 1);
    shot.connected_for_ms = shot.state == OutputState::connected ? age_of(load(output.connected_since_ms), now_ms) : -1;
    shot.reconnects = load(output.connections) > 0 ? load(output.connections) - 1 : 0;
    shot.bytes = load(output.bytes);
    shot.bitrate = rate_window_per_second(output.sent, now_ms) * 8;
    shot.last_error = health_text_get(output.last_error);
    shot.queue_messages = load(output.queue_messages), shot.queue_bytes = load(output.queue_bytes);
    shot.queue_ms = load(output.queue_ms), shot.queue_peak_ms = peak_window_max(output.queue_peak_ms, now_ms);
    shot.lateness_p50_ms = lateness_percentile(output.lateness, now_ms, 50);
    shot.lateness_p99_ms = lateness_percentile(output.lateness, now_ms, 99);
    return shot;
}

void media_snapshot(const MediaHealth& media, uint64_t now_ms, HealthSnapshot& shot) {
    const uint32_t video = media.video_codec.load(RELAXED), audio = media.audio_codec.load(RELAXED);
    if (video != 0) shot.video_codec = video == FLV_CODEC_AVC ? "H.264" : "codec " + std::to_string(video);
    if (media.profile_idc.load(RELAXED) != 0) {
        shot.video_profile = h264_profile_name(media.profile_idc.load(RELAXED), media.constraint_flags.load(RELAXED));
    }
    shot.video_level = media.level_idc.load(RELAXED);
    shot.width = media.width.load(RELAXED), shot.height = media.height.load(RELAXED);
    const uint32_t num = media.rate_num.load(RELAXED), den = media.rate_den.load(RELAXED);
    shot.frame_rate = den != 0 ? static_cast<double>(num) / den : rate_window_per_second(media.video_frames, now_ms);
    shot.key_interval_ms = media.key_interval_ms.load(RELAXED);
    shot.key_interval_longest_ms = peak_window_max(media.key_interval_peak, now_ms);
    if (audio != 0) shot.audio_codec = audio == FLV_SOUND_AAC ? "AAC" : "codec " + std::to_string(audio);
    shot.audio_rate = media.audio_rate.load(RELAXED), shot.audio_channels = media.audio_channels.load(RELAXED);
    shot.av_offset_ms = media.av_offset_ms.load(RELAXED);
}

}  // namespace

// ---- windows ----

void rate_window_add(RateWindow& window, uint64_t now_ms, uint64_t amount) {
    const uint64_t second = now_ms / 1000;
    if (window.first_second.load(RELAXED) == 0) window.first_second.store(second + 1, RELAXED);
    bump(slot_for(window.seconds, second), amount);
}

double rate_window_per_second(const RateWindow& window, uint64_t now_ms) {
    const uint64_t first = window.first_second.load(RELAXED), second = now_ms / 1000;
    if (first == 0 || second + 1 <= first) return 0;
    const uint64_t complete = std::min(second + 1 - first, HEALTH_RATE_SECONDS);
    uint64_t sum = 0;
    for (uint64_t back = 1; back <= complete; ++back) sum += value_of(window.seconds, second - back);
    return static_cast<double>(sum) / static_cast<double>(complete);
}

void peak_window_note(PeakWindow& window, uint64_t now_ms, uint64_t value) {
    HealthCounter& slot = slot_for(window.seconds, now_ms / 1000);
    if (value > slot.load(RELAXED)) slot.store(value, RELAXED);
}

uint64_t peak_window_max(const PeakWindow& window, uint64_t now_ms) {
    const uint64_t second = now_ms / 1000;
    uint64_t peak = 0;
    for (uint64_t back = 0; back < HEALTH_PEAK_SECONDS && back <= second; ++back) {
        peak = std::max(peak, value_of(window.seconds, second - back));
    }
    return peak;
}

void lateness_note(LatenessWindow& window, uint64_t now_ms, uint64_t lateness_ms) {
    const uint64_t period = now_ms / 1000 / HEALTH_LATENESS_PERIOD_S;
    const size_t at = period % LatenessWindow::PERIODS;
    if (window.stamp[at].load(RELAXED) != period + 1) {
        for (HealthCounter& count : window.counts[at]) count.store(0, RELAXED);
        window.stamp[at].store(period + 1, RELAXED);
    }
    const auto bucket =
        static_cast<size_t>(std::lower_bound(HEALTH_LATENESS_EDGES.begin(), HEALTH_LATENESS_EDGES.end(), lateness_ms) -
                            HEALTH_LATENESS_EDGES.begin());
    bump(window.counts[at][bucket]);
    peak_window_note(window.peak, now_ms, lateness_ms);
}

int64_t lateness_percentile(const LatenessWindow& window, uint64_t now_ms, unsigned percent) {
    const uint64_t period = now_ms / 1000 / HEALTH_LATENESS_PERIOD_S;
    std::array<uint64_t, HEALTH_LATENESS_EDGES.size() + 1> counts{};
    uint64_t total = 0;
    for (uint64_t back = 0; back + 1 < LatenessWindow::PERIODS && back <= period; ++back) {
        const size_t at = (period - back) % LatenessWindow::PERIODS;
        if (window.stamp[at].load(RELAXED) != period - back + 1) continue;
        for (size_t b = 0; b < counts.size(); ++b) counts[b] += window.counts[at][b].load(RELAXED);
    }
    for (uint64_t count : counts) total += count;
    if (total == 0) return -1;
    const uint64_t rank = (total * percent + 99) / 100;  // the smallest count that covers `percent`
    const uint64_t seen = peak_window_max(window.peak, now_ms);
    uint64_t below = 0;
    for (size_t b = 0; b < counts.size(); ++b) {
        below += counts[b];
        if (below >= std::max<uint64_t>(rank, 1) && b < HEALTH_LATENESS_EDGES.size()) {
            return static_cast<int64_t>(std::min(HEALTH_LATENESS_EDGES[b], seen));
        }
    }
    return static_cast<int64_t>(seen);
}

void health_text_set(HealthText& text, std::string_view value) {
    std::lock_guard guard(text.lock);
    text.text.assign(value);
}

std::string health_text_get(const HealthText& text) {
    std::lock_guard guard(text.lock);
    return text.text;
}

// ---- feeding ----

void health_source_segment(WorkflowHealth* health, uint64_t now_ms, size_t bytes, int64_t latency_ms, const void* ring,
                           uint64_t ring_failures) {
    if (!health) return;
    SourceHealth& source = health->source;
    rate_window_add(source.input, now_ms, bytes);
    bump(source.segments);
    source.last_segment_ms.store(std::max<uint64_t>(now_ms, 1), RELAXED);
    source.latency_ms.store(latency_ms, RELAXED);
    if (ring != source.counted_ring) source.counted_ring = ring, source.counted_ring_failures = 0;
    if (ring_failures > source.counted_ring_failures) {
        bump(source.failures, ring_failures - source.counted_ring_failures);
        source.counted_ring_failures = ring_failures;
    }
}

void health_source_retry(WorkflowHealth* health) {
    if (health) bump(health->source.retries);
}

void health_media_tag(WorkflowHealth* health, uint64_t now_ms, const FlvTag& tag, int64_t place_ms) {
    if (!health) return;
    if (tag.type == FLV_TAG_VIDEO) note_video(health->media, now_ms, tag.body, place_ms);
    if (tag.type == FLV_TAG_AUDIO) note_audio(health->media, tag.body, place_ms);
}

OutputHealth* health_output(WorkflowHealth* health, size_t number) {
    if (!health || number == 0 || number > HEALTH_MAX_OUTPUTS) return nullptr;
    return &health->outputs[number - 1];
}

void health_output_state(OutputHealth* output, uint64_t now_ms, OutputState state, std::string_view error) {
    if (!output) return;
    if (!error.empty()) health_text_set(output->last_error, error);
    const bool connected = state == OutputState::connected;
    if (connected) bump(output->connections);
    output->connected_since_ms.store(connected ? std::max<uint64_t>(now_ms, 1) : 0, RELAXED);
    output->state.store(static_cast<uint32_t>(state) + 1, RELAXED);
}

void health_outputs_closed(WorkflowHealth* health, uint64_t now_ms) {
    if (!health) return;
    for (OutputHealth& output : health->outputs) {
        if (output.state.load(RELAXED) != HEALTH_OUTPUT_UNUSED)
            health_output_state(&output, now_ms, OutputState::reconnecting);
    }
}

void health_output_sent(OutputHealth* output, uint64_t now_ms, uint64_t bytes) {
    if (!output) return;
    bump(output->bytes, bytes);
    rate_window_add(output->sent, now_ms, bytes);
}

void health_output_lateness(OutputHealth* output, uint64_t now_ms, uint64_t lateness_ms) {
    if (output) lateness_note(output->lateness, now_ms, lateness_ms);
}

void health_output_queue(OutputHealth* output, uint64_t now_ms, uint64_t messages, uint64_t bytes, uint64_t span_ms) {
    if (!output) return;
    output->queue_messages.store(messages, RELAXED);
    output->queue_bytes.store(bytes, RELAXED);
    output->queue_ms.store(span_ms, RELAXED);
    peak_window_note(output->queue_peak_ms, now_ms, span_ms);
}

void health_recording_file(WorkflowHealth* health, std::string_view path) {
    if (health) health_text_set(health->recording.file, path);
}

void health_recording_written(WorkflowHealth* health, uint64_t bytes) {
    if (health) bump(health->recording.bytes, bytes);
}

void health_recording_failed(WorkflowHealth* health) {
    if (health) bump(health->recording.write_failures);
}

void health_encoder_name(WorkflowHealth* health, std::string_view name) {
    if (health) health_text_set(health->encoder.name, name);
}

void health_encoder_busy(WorkflowHealth* health, uint64_t frames, uint64_t busy_us) {
    if (!health) return;
    bump(health->encoder.frames, frames);
    bump(health->encoder.busy_us, busy_us);
}

// ---- reading ----

HealthSnapshot health_snapshot(const WorkflowHealth& health, uint64_t now_ms) {
    HealthSnapshot shot;
    shot.uptime_ms = static_cast<uint64_t>(std::max<int64_t>(age_of(load(health.started_ms), now_ms), 0));
    const SourceHealth& source = health.source;
    shot.input_bitrate = rate_window_per_second(source.input, now_ms) * 8;
    shot.segments = load(source.segments), shot.segment_failures = load(source.failures);
    shot.source_retries = load(source.retries);
    shot.last_segment_age_ms = age_of(load(source.last_segment_ms), now_ms);
    shot.latency_ms = source.latency_ms.load(RELAXED);
    media_snapshot(health.media, now_ms, shot);
    for (size_t at = 0; at < health.outputs.size(); ++at) {
        if (health.outputs[at].state.load(RELAXED) == HEALTH_OUTPUT_UNUSED) continue;
        shot.outputs.push_back(output_snapshot(health.outputs[at], at + 1, now_ms));
    }
    shot.recording_file = health_text_get(health.recording.file);
    shot.recording_bytes = load(health.recording.bytes);
    shot.recording_write_failures = load(health.recording.write_failures);
    shot.encoder = health_text_get(health.encoder.name);
    shot.frames_encoded = load(health.encoder.frames);
    if (shot.frames_encoded > 0) {
        shot.encode_ms_per_frame = static_cast<double>(load(health.encoder.busy_us)) / 1000.0 / shot.frames_encoded;
    }
    return shot;
}
