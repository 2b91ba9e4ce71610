// Run-time validation and the URL rules.
//
// url_check is a syntax check, not a parser: it rejects texts that cannot be
// a URL on one line (controls, blanks, quotes, angle brackets), then looks
// at the scheme, the host part (compared whole, so a port or user name in a
// YouTube host fails) and whether a non-empty path follows.
#include "workflow/validate.h"

#include <algorithm>
#include <vector>

#include "platform/files/folders.h"
#include "platform/text/text.h"
#include "workflow/check_messages.h"
#include "workflow/workflow.h"

namespace {

struct UrlParts {
    std::string_view scheme;
    std::string_view host;
    bool has_path = false;
};

bool split_url(std::string_view text, UrlParts* parts) {
    size_t marker = text.find("://");
    if (marker == std::string_view::npos || marker + 3 >= text.size()) return false;
    parts->scheme = text.substr(0, marker);
    std::string_view rest = text.substr(marker + 3);
    size_t slash = rest.find('/');
    parts->host = rest.substr(0, slash);
    parts->has_path = slash != std::string_view::npos && slash + 1 < rest.size();
    return !parts->host.empty();
}

bool has_forbidden_character(std::string_view text) {
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || c == '"' || c == '<' || c == '>') return true;
    }
    return false;
}

bool is_youtube_host(std::string_view host) {
    std::string_view main = YOUTUBE_MAIN_DOMAIN;
    if (iequals(host, main) || iequals(host, YOUTUBE_SHORT_DOMAIN)) return true;
    return host.size() > main.size() + 1 && iends_with(host, main) && host[host.size() - main.size() - 1] == '.';
}

bool scheme_is_one_of(std::string_view scheme, std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
        if (iequals(scheme, name)) return true;
    }
    return false;
}

// True when the path after the host holds an application and, after it, a
// non-empty stream key ("rtmp://host/app/key"); the server refuses a
// publish without a key, so such a URL would only fail again and again.
bool has_stream_key(std::string_view url) {
    std::string_view rest = url.substr(url.find("://") + 3);
    rest = rest.substr(0, rest.find_first_of("?#"));
    size_t app = rest.find('/');
    if (app == std::string_view::npos) return false;
    std::string_view path = rest.substr(app + 1);
    size_t key = path.find('/');
    return key != std::string_view::npos && key > 0 && path.find_first_not_of('/', key) != std::string_view::npos;
}

// The message of the first check that fails, or "" when all pass.
std::string first_problem(const WorkflowSettings& s) {
    const bool mp4 = s.type == WorkflowType::mp4_loop;
    const bool youtube = s.source_type == SourceType::youtube;
    if (s.name.empty()) return check_message::name_required;
    if (!s.enabled) return check_message::disabled;
    if (s.source.empty()) return mp4 ? check_message::mp4_required : check_message::source_required;
    if (mp4 && !is_mp4_file_path(s.source)) return check_message::mp4_missing;
    if (!mp4 && !url_check(s.source, youtube, false)) {
        return youtube ? youtube_source_message() : check_message::source_invalid;
    }
    if (std::string problem = output_problem(s.output_url, true); !problem.empty()) return problem;
    if (std::string problem = extra_outputs_problem(s, true); !problem.empty()) return problem;
    if (s.image_enabled && !path_exists(s.image_path)) return check_message::image_missing;
    if (!bitrate_acceptable(s)) return check_message::bitrate_out_of_range;
    if (!mp4 && (s.recording_dir.empty() || !ensure_directory(s.recording_dir))) {
        return check_message::recording_dir_unwritable;
    }
    return {};
}

}  // namespace

std::string youtube_source_message() {
    return string_printf("Enter a valid YouTube URL (%s or %s).", YOUTUBE_MAIN_DOMAIN, YOUTUBE_SHORT_DOMAIN);
}

bool workflow_validate(Workflow& workflow, std::string* message) {
    std::string problem = first_problem(workflow_settings_copy(workflow));
    if (message) *message = utf16_fit(problem, LAST_ERROR_CAPACITY);
    return problem.empty();
}

bool url_check(std::string_view text, bool youtube, bool rtmp_output) {
    if (text.empty() || has_forbidden_character(text)) return false;
    UrlParts parts;
    if (!split_url(text, &parts)) return false;
    if (rtmp_output) return scheme_is_one_of(parts.scheme, {"rtmp", "rtmps"}) && parts.has_path;
    if (youtube) {
        return scheme_is_one_of(parts.scheme, {"http", "https"}) && parts.has_path && is_youtube_host(parts.host);
    }
    return scheme_is_one_of(parts.scheme, {"http", "https", "rtmp", "rtmps", "srt"});
}

// Scheme and host name no case; the path and key do.
bool same_output(std::string_view a, std::string_view b) {
    const size_t a_path = std::min(a.find('/', a.find("://") + 3), a.size());
    const size_t b_path = std::min(b.find('/', b.find("://") + 3), b.size());
    return iequals(a.substr(0, a_path), b.substr(0, b_path)) && a.substr(a_path) == b.substr(b_path);
}

std::string output_problem(std::string_view url, bool stream_key) {
    if (url.empty()) return check_message::output_required;
    if (!url_check(url, false, true)) return check_message::output_invalid;
    if (stream_key && !has_stream_key(url)) return check_message::output_no_stream_key;
    return {};
}

std::string extra_outputs_problem(const WorkflowSettings& s, bool stream_key) {
    std::vector<std::string_view> urls{s.output_url};
    for (const ExtraOutput& extra : s.extra_outputs) {
        if (std::string problem = output_problem(extra.url, stream_key); !problem.empty()) {
            return string_printf("Output %zu: %s", urls.size() + 1, problem.c_str());
        }
        for (std::string_view seen : urls) {
            if (same_output(seen, extra.url)) return check_message::outputs_same;
        }
        urls.push_back(extra.url);
    }
    return {};
}

std::string mask_stream_key(std::string_view url) {
    if (!istarts_with(url, "rtmp://") && !istarts_with(url, "rtmps://")) return std::string(url);
    // The key is everything after the application, query included; a URL
    // without an application shows nothing after its host. A user name and
    // password before the host are as secret as the key.
    const size_t host = url.find("://") + 3;
    const size_t path = std::min(url.find_first_of("/?#", host), url.size());
    std::string_view authority = url.substr(host, path - host);
    const size_t at = authority.rfind('@');
    std::string shown(url.substr(0, host));
    if (at != std::string_view::npos) shown += "********", authority.remove_prefix(at);
    shown += authority;
    size_t cut = path;
    if (path < url.size() && url[path] == '/') cut = std::min(url.find_first_of("/?#", path + 1), url.size());
    if (cut == url.size()) return shown + std::string(url.substr(path));
    return shown + std::string(url.substr(path, cut - path)) + "/********";
}

bool is_mp4_file_path(const std::string& path) {
    if (regular_file_size(path) < 0) return false;
    size_t dot = path.rfind('.');
    return dot != std::string::npos && iequals(std::string_view(path).substr(dot), ".mp4");
}

uint32_t parse_bitrate(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    uint64_t whole = 0;
    size_t at = read_decimal(text, UINT32_MAX, &whole);
    uint64_t fraction = 0, places = 1;  // six places are the most a suffix can use
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            if (places == 1000000) continue;
            fraction = fraction * 10 + uint64_t(text[at] - '0');
            places *= 10;
        }
    }
    const char unit = at < text.size() ? text[at] : '\0';
    const uint64_t scale = unit == 'k' || unit == 'K' ? 1000 : unit == 'm' || unit == 'M' ? 1000000 : 1;
    const uint64_t bits = std::min<uint64_t>(whole * scale + fraction * scale / places, UINT32_MAX);
    return bits == 0 ? 6000000 : uint32_t(bits);
}

bool bitrate_acceptable(const WorkflowSettings& s) {
    const bool overlay = s.image_enabled || s.text_enabled;
    if (s.type != WorkflowType::overlay_stream && !(s.type == WorkflowType::mp4_loop && overlay)) return true;
    const uint32_t bits = parse_bitrate(s.bitrate);
    return bits >= 100000 && bits <= 100000000;
}
