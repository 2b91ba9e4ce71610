// The lines of the details box's health block.
#include "ui/presentation/health_view.h"

#include "platform/text/text.h"

namespace {

bool live_source(const WorkflowSettings& s) {
    return s.type != WorkflowType::mp4_loop;
}

bool encodes(const WorkflowSettings& s) {
    return s.type == WorkflowType::overlay_stream ||
           (s.type == WorkflowType::mp4_loop && (s.image_enabled || s.text_enabled));
}

std::string source_line(const HealthSnapshot& h) {
    std::string line =
        string_printf("\nSource: %.2f Mb/s, %llu segments, %llu failed", h.input_bitrate / 1e6,
                      static_cast<unsigned long long>(h.segments), static_cast<unsigned long long>(h.segment_failures));
    if (h.latency_ms >= 0) line += string_printf(", %.1f s behind live", h.latency_ms / 1000.0);
    if (h.last_segment_age_ms > HEALTH_QUIET_WARN_MS) {
        line += string_printf(" - WARNING: no data for %lld s", static_cast<long long>(h.last_segment_age_ms / 1000));
    }
    return line;
}

std::string video_line(const HealthSnapshot& h) {
    std::string line = "\nVideo: " + h.video_codec;
    if (!h.video_profile.empty()) line += " " + h.video_profile;
    if (h.width != 0) line += string_printf(", %ux%u", h.width, h.height);
    if (h.frame_rate > 0) line += string_printf(", %.2f fps", h.frame_rate);
    if (h.key_interval_ms >= 0) line += string_printf(", key frames every %.1f s", h.key_interval_ms / 1000.0);
    if (static_cast<int64_t>(h.key_interval_longest_ms) > HEALTH_KEY_WARN_MS) {
        line += string_printf(" - WARNING: key frames %.1f s apart", h.key_interval_longest_ms / 1000.0);
    }
    return line;
}

std::string output_line(const OutputSnapshot& o) {
    std::string line =
        string_printf("\nOutput %zu: %s, %.2f Mb/s", o.number, output_state_name(o.state), o.bitrate / 1e6);
    if (o.lateness_p99_ms >= 0) line += string_printf(", late p99 %lld ms", static_cast<long long>(o.lateness_p99_ms));
    if (o.lateness_p99_ms > HEALTH_LATE_WARN_MS) line += " - WARNING: sending late";
    return line;
}

}  // namespace

std::string health_details_text(const HealthSnapshot& h, const WorkflowSettings& s) {
    std::string text;
    if (live_source(s) && h.segments > 0) text += source_line(h);
    if (!h.video_codec.empty()) text += video_line(h);
    if (!h.audio_codec.empty()) {
        text += string_printf("\nAudio: %s, %u Hz, %u channels", h.audio_codec.c_str(), h.audio_rate, h.audio_channels);
    }
    for (const OutputSnapshot& output : h.outputs) text += output_line(output);
    if (live_source(s) && !h.recording_file.empty()) {
        text += string_printf("\nRecording: %.1f MB, %llu write failures", h.recording_bytes / 1e6,
                              static_cast<unsigned long long>(h.recording_write_failures));
    }
    if (encodes(s) && h.frames_encoded > 0) {
        text += string_printf("\nEncoder: %s, %.1f ms per frame", h.encoder.c_str(), h.encode_ms_per_frame);
    }
    return text.empty() ? text : "\nHealth:" + text;
}
