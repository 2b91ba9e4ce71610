// The Prometheus families, the JSON grouping and the status page, each from
// the status file's fields.
#include "run/health_export.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

#include "engines/engine_contract.h"
#include "engines/health.h"
#include "platform/files/folders.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "workflow/workflow.h"

namespace {

// ---- Prometheus ----

// One figure of the status file as a family: `key` is the field (after
// "output.N." for an output's), `needs` a text field that must be set for
// the figure to mean anything (a video width before any video is not 0).
struct Family {
    const char* key;
    const char* name;
    const char* type;
    const char* help;
    double scale;           // to the unit of the name (milliseconds to seconds)
    bool negative_unknown;  // a value below 0 means "not known yet": no sample
    const char* needs;
};

constexpr double MS = 0.001;

constexpr Family WORKFLOW_FAMILIES[] = {
    {"uptime_ms", "veltrona_workflow_uptime_seconds", "gauge", "How long the workflow's run has gone on.", MS, false,
     "uptime_ms"},
    {"source.bitrate_bps", "veltrona_source_input_bytes_per_second", "gauge",
     "What the source delivered, over the last 10 s (times 8: its bitrate).", 1.0 / 8, false, "uptime_ms"},
    {"source.segments", "veltrona_source_segments_total", "counter", "Source segments taken.", 1, false, "uptime_ms"},
    {"source.segment_failures", "veltrona_source_segment_failures_total", "counter",
     "Source segment fetches that failed.", 1, false, "uptime_ms"},
    {"source.last_segment_age_ms", "veltrona_source_last_segment_age_seconds", "gauge",
     "Time since the last source segment arrived.", MS, true, "uptime_ms"},
    {"source.latency_ms", "veltrona_source_latency_seconds", "gauge",
     "How far the newest listed source segment is ahead of what is published.", MS, true, "uptime_ms"},
    {"source.retries", "veltrona_source_retries_total", "counter", "Source retries and re-resolutions.", 1, false,
     "uptime_ms"},
    {"video.width", "veltrona_video_width_pixels", "gauge", "Picture width as sent.", 1, false, "video.codec"},
    {"video.height", "veltrona_video_height_pixels", "gauge", "Picture height as sent.", 1, false, "video.codec"},
    {"video.frame_rate", "veltrona_video_frames_per_second", "gauge", "Frame rate as sent.", 1, false, "video.codec"},
    {"video.key_interval_ms", "veltrona_video_key_frame_interval_seconds", "gauge",
     "Time between the last two key frames.", MS, true, "video.codec"},
    {"video.key_interval_longest_ms", "veltrona_video_key_frame_interval_longest_seconds", "gauge",
     "The longest key-frame interval of the last 60 s.", MS, false, "video.codec"},
    {"audio.sample_rate", "veltrona_audio_sample_rate_hertz", "gauge", "Audio sample rate as sent.", 1, false,
     "audio.codec"},
    {"audio.channels", "veltrona_audio_channels", "gauge", "Audio channels as sent.", 1, false, "audio.codec"},
    {"media.av_offset_ms", "veltrona_media_av_offset_seconds", "gauge",
     "Last audio time minus last video time, as sent.", MS, false, "audio.codec"},
    {"recording.bytes", "veltrona_recording_bytes_total", "counter", "Bytes written to the recording.", 1, false,
     "recording.file"},
    {"recording.write_failures", "veltrona_recording_write_failures_total", "counter", "Recording writes that failed.",
     1, false, "recording.file"},
    {"encoder.frames", "veltrona_encoder_frames_total", "counter", "Frames encoded.", 1, false, "encoder.name"},
    {"encoder.ms_per_frame", "veltrona_encoder_seconds_per_frame", "gauge",
     "Decode, paint and encode time per frame, on average.", MS, false, "encoder.name"},
};

constexpr Family OUTPUT_FAMILIES[] = {
    {"bitrate_bps", "veltrona_output_sent_bytes_per_second", "gauge",
     "What the output sent, over the last 10 s (times 8: its bitrate).", 1.0 / 8, false, nullptr},
    {"bytes", "veltrona_output_bytes_total", "counter", "Bytes the output sent.", 1, false, nullptr},
    {"connected_for_ms", "veltrona_output_connected_seconds", "gauge", "How long the output has been connected.", MS,
     true, nullptr},
    {"reconnects", "veltrona_output_reconnects_total", "counter", "Times the output connected again.", 1, false,
     nullptr},
    {"queue_messages", "veltrona_output_queue_messages", "gauge", "Messages waiting in the output's queue.", 1, false,
     nullptr},
    {"queue_bytes", "veltrona_output_queue_bytes", "gauge", "Bytes waiting in the output's queue.", 1, false, nullptr},
    {"queue_ms", "veltrona_output_queue_seconds", "gauge", "Media time waiting in the output's queue.", MS, false,
     nullptr},
    {"queue_peak_ms", "veltrona_output_queue_peak_seconds", "gauge", "The longest the queue was in the last 60 s.", MS,
     false, nullptr},
    {"lateness_p50_ms", "veltrona_output_lateness_p50_seconds", "gauge",
     "Median of how late messages went out after their due time, last 60 s.", MS, true, nullptr},
    {"lateness_p99_ms", "veltrona_output_lateness_p99_seconds", "gauge",
     "99th percentile of how late messages went out after their due time, last 60 s.", MS, true, nullptr},
};

constexpr uint32_t WORKFLOW_STATE_COUNT = static_cast<uint32_t>(WorkflowState::error) + 1;
constexpr OutputState OUTPUT_STATES[] = {OutputState::connecting, OutputState::connected, OutputState::reconnecting};

// A label value as the text format wants it: backslash, quote and line end escaped.
std::string label_value(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string sample_value(double value) {
    if (value == std::floor(value) && std::fabs(value) < 1e15) return string_printf("%.0f", value);
    return string_printf("%.6g", value);
}

struct Exposition {
    std::string text;
    void family(const char* name, const char* type, const char* help) {
        text += string_printf("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
    }
    void sample(const char* name, const std::string& labels, double value) {
        text += name;
        text += "{" + labels + "} ";
        text += sample_value(value);
        text += '\n';
    }
};

std::string workflow_labels(const StatusFigures& f) {
    return "workflow=\"" + label_value(f.text("id")) + "\",name=\"" + label_value(f.text("name")) + "\"";
}

std::string output_labels(const StatusFigures& f, size_t number) {
    return workflow_labels(f) + ",output=\"" + std::to_string(number) + "\"";
}

void workflow_family(Exposition& out, const Family& family, const std::vector<StatusFields>& workflows) {
    out.family(family.name, family.type, family.help);
    for (const StatusFields& fields : workflows) {
        const StatusFigures f{fields};
        if (f.text(family.needs).empty() || f.text(family.key).empty()) continue;
        if (family.negative_unknown && !f.known(family.key)) continue;
        out.sample(family.name, workflow_labels(f), f.number(family.key) * family.scale);
    }
}

void output_family(Exposition& out, const Family& family, const std::vector<StatusFields>& workflows) {
    out.family(family.name, family.type, family.help);
    for (const StatusFields& fields : workflows) {
        const StatusFigures f{fields};
        for (size_t n : status_output_numbers(fields)) {
            const std::string key = "output." + std::to_string(n) + "." + family.key;
            if (f.text(key).empty() || (family.negative_unknown && !f.known(key))) continue;
            out.sample(family.name, output_labels(f, n), f.number(key) * family.scale);
        }
    }
}

// A family of one sample per workflow that has the field `needs`, always 1,
// its labels the fields named in `labels` (label, field; unused ones null).
struct InfoFamily {
    const char* name;
    const char* help;
    const char* needs;
    std::pair<const char*, const char*> labels[3];
};

const InfoFamily INFO_FAMILIES[] = {
    {"veltrona_workflow_info", "The workflow's type; always 1.", "type", {{"type", "type"}}},
    {"veltrona_video_info",
     "The video as sent; always 1.",
     "video.codec",
     {{"codec", "video.codec"}, {"profile", "video.profile"}, {"level", "video.level"}}},
    {"veltrona_audio_info", "The audio as sent; always 1.", "audio.codec", {{"codec", "audio.codec"}}},
};

void info_family(Exposition& out, const InfoFamily& family, const std::vector<StatusFields>& workflows) {
    out.family(family.name, "gauge", family.help);
    for (const StatusFields& fields : workflows) {
        const StatusFigures f{fields};
        if (f.text(family.needs).empty()) continue;
        std::string labels = workflow_labels(f);
        for (const auto& [label, field] : family.labels) {
            if (!label) continue;
            labels += std::string(",") + label + "=\"" + label_value(f.text(field)) + "\"";
        }
        out.sample(family.name, labels, 1);
    }
}

void workflow_state_family(Exposition& out, const std::vector<StatusFields>& workflows) {
    out.family("veltrona_workflow_state", "gauge", "1 for the state the workflow is in, 0 for the others.");
    for (const StatusFields& fields : workflows) {
        const StatusFigures f{fields};
        for (uint32_t state = 0; state < WORKFLOW_STATE_COUNT; ++state) {
            const std::string name = workflow_state_name(state);
            out.sample("veltrona_workflow_state", workflow_labels(f) + ",state=\"" + label_value(name) + "\"",
                       f.text("state") == name ? 1 : 0);
        }
    }
}

void output_info_families(Exposition& out, const std::vector<StatusFields>& workflows) {
    out.family("veltrona_output_info", "gauge", "The output's URL, its stream key masked; always 1.");
    for (const StatusFields& fields : workflows) {
        const StatusFigures f{fields};
        for (size_t n : status_output_numbers(fields)) {
            const std::string url = f.text("output." + std::to_string(n) + ".url");
            out.sample("veltrona_output_info", output_labels(f, n) + ",url=\"" + label_value(url) + "\"", 1);
        }
    }
    out.family("veltrona_output_state", "gauge", "1 for the state the output is in, 0 for the others.");
    for (const StatusFields& fields : workflows) {
        const StatusFigures f{fields};
        for (size_t n : status_output_numbers(fields)) {
            const std::string state = f.text("output." + std::to_string(n) + ".state");
            for (OutputState each : OUTPUT_STATES) {
                const std::string name = output_state_name(each);
                out.sample("veltrona_output_state", output_labels(f, n) + ",state=\"" + name + "\"",
                           state == name ? 1 : 0);
            }
        }
    }
}

// ---- JSON ----

void json_string(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += string_printf("\\u%04x", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

// The fields that are texts; every other field is a figure. An output's
// fields are named here without their number.
bool text_field(const std::string& key) {
    static const char* const TEXTS[] = {"name",        "type",           "state",         "operation",
                                        "last_error",  "video.codec",    "video.profile", "video.level",
                                        "audio.codec", "recording.file", "encoder.name"};
    for (const char* text : TEXTS) {
        if (key == text) return true;
    }
    return false;
}

bool output_text_field(const std::string& key) {
    return key == "url" || key == "state" || key == "last_error";
}

// A figure as a JSON number when it is one (it always is, from the status
// file), else as a string, so a stray value never breaks the document.
void json_value(std::string& out, const std::string& value, bool text) {
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    const bool plain = !value.empty() && (value[0] == '-' || (value[0] >= '0' && value[0] <= '9'));
    if (text || !plain || *end != '\0' || !std::isfinite(number)) return json_string(out, value);
    out += value;
}

// An object's members, each added as a name and its JSON text.
struct JsonMembers {
    std::string text = "{";
    void add(const std::string& name, const std::string& json) {
        if (text.size() > 1) text += ',';
        json_string(text, name);
        text += ':' + json;
    }
    void add(const std::string& name, const std::string& value, bool is_text) {
        std::string json;
        json_value(json, value, is_text);
        add(name, json);
    }
    std::string close() const { return text + "}"; }
};

// The output number a field "output.N.rest" names, with `rest`; 0 when it names none.
size_t output_field(const std::string& key, std::string* rest) {
    constexpr std::string_view PREFIX = "output.";
    if (!key.starts_with(PREFIX)) return 0;
    const std::string_view tail = std::string_view(key).substr(PREFIX.size());
    uint64_t number = 0;
    const size_t digits = read_decimal(tail, HEALTH_MAX_OUTPUTS + 1, &number);
    if (digits == 0 || digits >= tail.size() || tail[digits] != '.') return 0;
    rest->assign(tail.substr(digits + 1));
    return static_cast<size_t>(number);
}

std::string workflow_json(const StatusFields& fields) {
    JsonMembers top;
    std::map<std::string, JsonMembers> groups;
    std::map<size_t, JsonMembers> outputs;
    for (size_t n : status_output_numbers(fields)) outputs[n].add("number", std::to_string(n));
    for (const auto& [key, value] : fields) {
        std::string rest;
        const size_t dot = key.find('.');
        if (key == "outputs") continue;  // the outputs array says it
        if (dot == std::string::npos) {
            top.add(key, value, text_field(key));
        } else if (const size_t number = output_field(key, &rest); number != 0 && outputs.count(number)) {
            outputs[number].add(rest, value, output_text_field(rest));
        } else {
            groups[key.substr(0, dot)].add(key.substr(dot + 1), value, text_field(key));
        }
    }
    for (const auto& [group, members] : groups) top.add(group, members.close());
    std::string array = "[";
    for (const auto& [number, members] : outputs) array += (array.size() > 1 ? "," : "") + members.close();
    top.add("outputs", array + "]");
    return top.close();
}

// ---- HTML ----

std::string html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A CSS class for a state word: how worried a watcher should be.
const char* state_class(const std::string& state) {
    if (state == "STREAMING" || state == "PLAYING" || state == "RECORDING" || state == "CONNECTED") return "good";
    if (state == "ERROR") return "bad";
    if (state == "RECONNECTING" || state == "LIVE ENDED" || state == "WAITING") return "warn";
    return "idle";
}

std::string warning(const std::string& text) {
    return " <strong class=\"bad\">WARNING: " + html(text) + "</strong>";
}

std::string duration(double ms) {
    return clock_duration_text(static_cast<uint64_t>(ms / 1000));
}

void figure_row(std::string& out, const char* head, const std::string& cells) {
    out += "<tr><th>";
    out += head;
    out += "</th><td>" + cells + "</td></tr>\n";
}

void source_row(std::string& out, const StatusFigures& f) {
    if (f.number("source.segments") <= 0) return;  // a file loop has no source to watch
    std::string cells =
        html(megabits_text(f.number("source.bitrate_bps")) + ", " + f.text("source.segments") + " segments, " +
             f.text("source.segment_failures") + " failed, " + f.text("source.retries") + " retries");
    if (f.known("source.latency_ms"))
        cells += html(", " + seconds_text(f.number("source.latency_ms")) + " behind live");
    if (f.number("source.last_segment_age_ms") > HEALTH_QUIET_WARN_MS)
        cells += warning("no data for " + seconds_text(f.number("source.last_segment_age_ms")));
    figure_row(out, "Source", cells);
}

void media_rows(std::string& out, const StatusFigures& f) {
    if (!f.text("video.codec").empty()) {
        std::string cells = html(f.text("video.codec") + " " + f.text("video.profile") + " " + f.text("video.level") +
                                 ", " + f.text("video.width") + "x" + f.text("video.height") +
                                 string_printf(", %.2f fps", f.number("video.frame_rate")));
        if (f.known("video.key_interval_ms"))
            cells += html(", key frames every " + seconds_text(f.number("video.key_interval_ms")));
        if (f.number("video.key_interval_longest_ms") > HEALTH_KEY_WARN_MS)
            cells += warning("key frames " + seconds_text(f.number("video.key_interval_longest_ms")) + " apart");
        figure_row(out, "Video", cells);
    }
    if (!f.text("audio.codec").empty()) {
        figure_row(out, "Audio",
                   html(f.text("audio.codec") + ", " + f.text("audio.sample_rate") + " Hz, " +
                        f.text("audio.channels") + " channels, offset " + f.text("media.av_offset_ms") + " ms"));
    }
    if (!f.text("recording.file").empty()) {
        // Its name only: the page may be read from other machines, which the folders are none of.
        figure_row(out, "Recording",
                   html(path_file_name(f.text("recording.file")) + ", " + megabytes_text(f.number("recording.bytes")) +
                        ", " + f.text("recording.write_failures") + " write failures"));
    }
    if (!f.text("encoder.name").empty()) {
        figure_row(out, "Encoder",
                   html(f.text("encoder.name") + ", " + f.text("encoder.frames") +
                        string_printf(" frames, %.1f ms per frame", f.number("encoder.ms_per_frame"))));
    }
}

void output_rows(std::string& out, const StatusFigures& f) {
    const std::vector<size_t> numbers = status_output_numbers(f.fields);
    if (numbers.empty()) return;
    out +=
        "<table class=\"outputs\"><tr><th>Output</th><th>URL</th><th>State</th><th>Sent</th><th>Connected</th>"
        "<th>Reconnects</th><th>Queue</th><th>Late p99</th><th>Last error</th></tr>\n";
    for (size_t n : numbers) {
        const std::string at = "output." + std::to_string(n) + ".";
        const std::string state = f.text(at + "state");
        std::string late = f.known(at + "lateness_p99_ms") ? f.text(at + "lateness_p99_ms") + " ms" : "-";
        std::string row = "<tr><td>" + std::to_string(n) + "</td><td>" + html(f.text(at + "url")) +
                          "</td><td class=\"" + state_class(state) + "\">" + html(state) + "</td><td>" +
                          html(megabits_text(f.number(at + "bitrate_bps"))) + ", " +
                          megabytes_text(f.number(at + "bytes")) + "</td><td>";
        row += f.known(at + "connected_for_ms") ? duration(f.number(at + "connected_for_ms")) : "-";
        row += "</td><td>" + html(f.text(at + "reconnects")) + "</td><td>" + html(f.text(at + "queue_ms")) +
               " ms</td><td>" + html(late);
        if (f.number(at + "lateness_p99_ms") > HEALTH_LATE_WARN_MS) row += warning("sending late");
        row += "</td><td>" + html(f.text(at + "last_error")) + "</td></tr>\n";
        out += row;
    }
    out += "</table>\n";
}

void workflow_section(std::string& out, const StatusFields& fields) {
    const StatusFigures f{fields};
    const std::string state = f.text("state");
    out += "<section>\n<h2>#" + html(f.text("id")) + " " + html(f.text("name")) + " <span class=\"" +
           state_class(state) + "\">" + html(state) + "</span></h2>\n";
    out += "<p>" + html(f.text("type")) + (f.text("operation").empty() ? "" : ": " + html(f.text("operation")));
    if (f.known("uptime_ms")) out += ", up " + duration(f.number("uptime_ms"));
    out += "</p>\n";
    if (!f.text("last_error").empty()) out += "<p class=\"bad\">Last error: " + html(f.text("last_error")) + "</p>\n";
    std::string rows;
    source_row(rows, f);
    media_rows(rows, f);
    if (!rows.empty()) out += "<table class=\"figures\">\n" + rows + "</table>\n";
    output_rows(out, f);
    out += "</section>\n";
}

constexpr const char* PAGE_STYLE =
    "body{font-family:sans-serif;margin:1.5em;color:#222;background:#fafafa}"
    "h1{font-size:1.4em}h2{font-size:1.15em;margin:0 0 .3em}"
    "section{background:#fff;border:1px solid #ddd;border-radius:6px;padding:.8em 1em;margin:0 0 1em}"
    "table{border-collapse:collapse;margin:.4em 0}th,td{text-align:left;padding:.2em .8em .2em 0;"
    "vertical-align:top}table.outputs th{border-bottom:1px solid #ccc}table.outputs td{white-space:nowrap}"
    ".good{color:#17803d}.warn{color:#b26a00}.bad{color:#c0262d}.idle{color:#666}"
    "footer{color:#666;font-size:.85em}";

}  // namespace

std::string prometheus_text(const std::vector<StatusFields>& workflows, const std::string& version) {
    Exposition out;
    out.family("veltrona_build_info", "gauge", "The program's version; always 1.");
    out.sample("veltrona_build_info", "version=\"" + label_value(version) + "\"", 1);
    for (const InfoFamily& family : INFO_FAMILIES) info_family(out, family, workflows);
    workflow_state_family(out, workflows);
    for (const Family& family : WORKFLOW_FAMILIES) workflow_family(out, family, workflows);
    output_info_families(out, workflows);
    for (const Family& family : OUTPUT_FAMILIES) output_family(out, family, workflows);
    return out.text;
}

std::string workflows_json(const std::vector<StatusFields>& workflows, const std::string& version) {
    std::string out = "{\"version\":";
    json_string(out, version);
    out += ",\"workflows\":[";
    for (size_t at = 0; at < workflows.size(); ++at) {
        if (at > 0) out += ',';
        out += workflow_json(workflows[at]);
    }
    out += "]}\n";
    return out;
}

std::string status_page_html(const std::vector<StatusFields>& workflows, const std::string& version,
                             unsigned refresh_s) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"refresh\" content=\"" +
        std::to_string(refresh_s) + "\"><title>Veltrona status</title><style>" + PAGE_STYLE +
        "</style></head>\n<body>\n<h1>Veltrona status</h1>\n";
    if (workflows.empty()) out += "<p>No workflow is running.</p>\n";
    for (const StatusFields& fields : workflows) workflow_section(out, fields);
    out += string_printf(
        "<footer>Veltrona %s, updated %s, every %u s. "
        "<a href=\"/metrics\">Metrics</a> <a href=\"/api/v1/workflows\">JSON</a></footer>\n",
        html(version).c_str(), local_time_text(local_time_now()).c_str(), refresh_s);
    out += "</body></html>\n";
    return out;
}
