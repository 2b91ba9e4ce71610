// Writing, parsing and trusting the status file of a running workflow.
#include "run/status_file.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/files/file_lock.h"
#include "platform/files/files.h"
#include "platform/files/folders.h"
#include "platform/process/process.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "run/engine_status.h"
#include "run/run_context.h"
#include "run/run_control.h"
#include "run/runner.h"
#include "workflow/validate.h"

namespace {

constexpr const char* HIDDEN = "********";

// `text` with every output's stream key hidden, wherever it appears.
std::string without_keys(std::string text, const std::vector<std::string>& urls) {
    for (const std::string& url : urls) {
        const std::string masked = mask_stream_key(url);
        const size_t shown = masked.size() >= std::char_traits<char>::length(HIDDEN) && masked.ends_with(HIDDEN)
                                 ? masked.size() - std::char_traits<char>::length(HIDDEN)
                                 : url.size();
        const std::string key = url.substr(std::min(shown, url.size()));
        for (size_t at; !key.empty() && (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), HIDDEN);
    }
    return text;
}

struct Lines {
    std::string text;
    void add(const std::string& key, const std::string& value) { text += key + "=" + printable_line(value) + "\n"; }
    void add(const std::string& key, uint64_t value) { add(key, std::to_string(value)); }
    void add(const std::string& key, int64_t value) { add(key, std::to_string(value)); }
    void add(const std::string& key, uint32_t value) { add(key, std::to_string(value)); }
    void add(const std::string& key, double value) { add(key, string_printf("%.3f", value)); }
};

void add_media(Lines& out, const HealthSnapshot& h) {
    out.add("video.codec", h.video_codec);
    out.add("video.profile", h.video_profile);
    out.add("video.level",
            h.video_level == 0 ? std::string() : string_printf("%u.%u", h.video_level / 10, h.video_level % 10));
    out.add("video.width", h.width);
    out.add("video.height", h.height);
    out.add("video.frame_rate", h.frame_rate);
    out.add("video.key_interval_ms", h.key_interval_ms);
    out.add("video.key_interval_longest_ms", h.key_interval_longest_ms);
    out.add("audio.codec", h.audio_codec);
    out.add("audio.sample_rate", h.audio_rate);
    out.add("audio.channels", h.audio_channels);
    out.add("media.av_offset_ms", h.av_offset_ms);
}

void add_output(Lines& out, const OutputSnapshot& o, const std::vector<std::string>& urls) {
    const std::string at = "output." + std::to_string(o.number) + ".";
    out.add(at + "url", o.number >= 1 && o.number <= urls.size() ? mask_stream_key(urls[o.number - 1]) : std::string());
    out.add(at + "state", output_state_name(o.state));
    out.add(at + "bitrate_bps", static_cast<uint64_t>(o.bitrate));
    out.add(at + "bytes", o.bytes);
    out.add(at + "connected_for_ms", o.connected_for_ms);
    out.add(at + "reconnects", o.reconnects);
    out.add(at + "last_error", without_keys(o.last_error, urls));
    out.add(at + "queue_messages", o.queue_messages);
    out.add(at + "queue_bytes", o.queue_bytes);
    out.add(at + "queue_ms", o.queue_ms);
    out.add(at + "queue_peak_ms", o.queue_peak_ms);
    out.add(at + "lateness_p50_ms", o.lateness_p50_ms);
    out.add(at + "lateness_p99_ms", o.lateness_p99_ms);
}

void add_health(Lines& out, const HealthSnapshot& h, const std::vector<std::string>& urls) {
    out.add("uptime_ms", h.uptime_ms);
    out.add("source.bitrate_bps", static_cast<uint64_t>(h.input_bitrate));
    out.add("source.segments", h.segments);
    out.add("source.segment_failures", h.segment_failures);
    out.add("source.last_segment_age_ms", h.last_segment_age_ms);
    out.add("source.latency_ms", h.latency_ms);
    out.add("source.retries", h.source_retries);
    add_media(out, h);
    out.add("outputs", static_cast<uint64_t>(h.outputs.size()));
    for (const OutputSnapshot& output : h.outputs) add_output(out, output, urls);
    out.add("recording.file", h.recording_file);
    out.add("recording.bytes", h.recording_bytes);
    out.add("recording.write_failures", h.recording_write_failures);
    out.add("encoder.name", h.encoder);
    out.add("encoder.frames", h.frames_encoded);
    out.add("encoder.ms_per_frame", h.encode_ms_per_frame);
}

}  // namespace

uint64_t status_wall_ms() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::string status_file_path(const WorkflowList& list, uint32_t id) {
    const std::string folder = path_parent(list.config_path);
    if (folder.empty()) return {};
    return path_join(path_join(folder, "status"), "workflow-" + std::to_string(id) + ".status");
}

std::string status_file_text(Workflow& workflow, const HealthSnapshot* health, uint64_t written_ms) {
    const WorkflowSettings s = workflow_settings_copy(workflow);
    // Every stored output, so that an output's number is its place here.
    std::vector<std::string> urls{s.output_url};
    for (const ExtraOutput& more : s.extra_outputs) urls.push_back(more.url);
    Lines out;
    out.add("id", workflow.id);
    out.add("name", s.name);
    out.add("type", workflow_type_list_name(s.type));
    out.add("state", workflow_state_name(workflow.state.load()));
    out.add("operation", without_keys(workflow_current_operation(workflow), urls));
    out.add("last_error", without_keys(workflow_last_error(workflow), urls));
    out.add("pid", static_cast<uint64_t>(process_current_id()));
    out.add("written_ms", written_ms);
    if (health) add_health(out, *health, urls);
    return out.text;
}

bool status_file_write(Workflow& workflow) {
    const std::string path = workflow.context ? status_file_path(*workflow.context, workflow.id) : std::string();
    if (path.empty() || !ensure_directory(path_parent(path))) return false;
    std::shared_ptr<const WorkflowHealth> health = workflow_health(workflow);
    std::optional<HealthSnapshot> shot;
    if (health) shot = health_snapshot(*health, tick_ms());
    return file_replace_private(path, status_file_text(workflow, shot ? &*shot : nullptr, status_wall_ms()),
                                FileDurability::cached);
}

void status_file_remove(Workflow& workflow) {
    const std::string path = workflow.context ? status_file_path(*workflow.context, workflow.id) : std::string();
    std::error_code ignored;
    if (!path.empty())
        std::filesystem::remove(std::filesystem::path(reinterpret_cast<const char8_t*>(path.c_str())), ignored);
}

StatusFields status_fields_parse(const std::string& text) {
    StatusFields fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos)
            fields[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
        start = end + 1;
    }
    return fields;
}

StatusFields workflow_status_fields(Workflow& workflow) {
    std::shared_ptr<const WorkflowHealth> health = workflow_health(workflow);
    std::optional<HealthSnapshot> shot;
    if (health) shot = health_snapshot(*health, tick_ms());
    return status_fields_parse(status_file_text(workflow, shot ? &*shot : nullptr, status_wall_ms()));
}

std::string StatusFigures::text(const std::string& key) const {
    auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

double StatusFigures::number(const std::string& key) const {
    return std::strtod(text(key).c_str(), nullptr);
}

bool StatusFigures::known(const std::string& key) const {
    return !text(key).empty() && number(key) >= 0;
}

std::string megabits_text(double bits_per_second) {
    return string_printf("%.2f Mb/s", bits_per_second / 1e6);
}

std::string seconds_text(double ms) {
    return string_printf("%.1f s", ms / 1000);
}

std::string megabytes_text(double bytes) {
    return string_printf("%.1f MB", bytes / 1e6);
}

std::vector<size_t> status_output_numbers(const StatusFields& fields) {
    std::vector<size_t> numbers;
    constexpr std::string_view PREFIX = "output.", SUFFIX = ".state";
    for (const auto& [key, value] : fields) {
        if (!key.starts_with(PREFIX) || !key.ends_with(SUFFIX) || key.size() <= PREFIX.size() + SUFFIX.size()) continue;
        const std::string_view digits(key.data() + PREFIX.size(), key.size() - PREFIX.size() - SUFFIX.size());
        uint64_t number = 0;
        if (read_decimal(digits, HEALTH_MAX_OUTPUTS + 1, &number) == digits.size() && number > 0)
            numbers.push_back(static_cast<size_t>(number));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::optional<StatusFields> status_file_read_live(const WorkflowList& list, uint32_t id) {
    const std::string path = status_file_path(list, id);
    std::string text;
    if (path.empty() || file_read_all(path, &text) != FileRead::ok) return std::nullopt;
    if (!file_lock_held(run_lock_path(list, id))) return std::nullopt;
    StatusFields fields = status_fields_parse(text);
    const std::string& stamp = fields["written_ms"];
    uint64_t written = 0;
    if (stamp.empty() || read_decimal(stamp, UINT64_MAX, &written) != stamp.size()) return std::nullopt;
    const uint64_t now = status_wall_ms();
    if (written > now + STATUS_FILE_STALE_MS || now - std::min(written, now) > STATUS_FILE_STALE_MS)
        return std::nullopt;
    return fields;
}
