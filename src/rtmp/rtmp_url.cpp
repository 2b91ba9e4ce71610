// URL rules for publishing destinations. The port is read the way atoi reads
// (leading blanks and a sign allowed, digits up to the first non-digit, none
// giving 0) and kept to its low 16 bits; a port text longer than 7
// characters is refused so a typo cannot wrap into a plausible port.
#include "rtmp/rtmp_url.h"

#include <cstdlib>

#include "platform/network/url_authority.h"
#include "platform/text/text.h"

namespace {

constexpr size_t PORT_TEXT_MAX = 7;

std::string cut(std::string_view text, size_t max_bytes) {
    return std::string(text.substr(0, utf8_cut_point(text, max_bytes)));
}

bool valid_host(std::string_view host) {
    return !host.empty() && host.size() <= RTMP_HOST_MAX;
}

uint16_t atoi_port(std::string_view text) {
    std::string copy(text);
    return static_cast<uint16_t>(static_cast<unsigned>(std::atoi(copy.c_str())) & 0xFFFFu);
}

// Host and, when written, port of the authority; false when either is unusable.
bool parse_authority(std::string_view authority, RtmpUrl* out, bool* bracketed) {
    UrlAuthority parts;
    if (!url_split_authority(authority, &parts) || !valid_host(parts.host)) return false;
    if (parts.has_port) {
        if (parts.port_text.size() > PORT_TEXT_MAX) return false;
        out->port = atoi_port(parts.port_text);
    }
    out->host = std::string(parts.host);
    *bracketed = parts.bracketed;
    return true;
}

}  // namespace

bool rtmp_parse_url(std::string_view url, RtmpUrl* out) {
    *out = RtmpUrl{};
    const char* scheme = nullptr;
    if (istarts_with(url, "rtmps://")) {
        scheme = "rtmps";
        out->tls = true;
        out->port = RTMPS_DEFAULT_PORT;
    } else if (istarts_with(url, "rtmp://")) {
        scheme = "rtmp";
        out->port = RTMP_DEFAULT_PORT;
    } else {
        return false;
    }
    std::string_view rest = url.substr(url.find("://") + 3);
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return false;
    bool bracketed = false;
    if (!parse_authority(rest.substr(0, slash), out, &bracketed)) return false;
    rest.remove_prefix(slash + 1);
    size_t second = rest.find('/');
    if (second == std::string_view::npos) return false;
    std::string_view app = rest.substr(0, second);
    std::string_view key = rest.substr(second + 1);
    if (app.empty() || app.size() > RTMP_APP_MAX || key.empty()) return false;
    out->app = std::string(app);
    out->stream_key = cut(key, RTMP_STREAM_KEY_MAX);
    std::string host_text = bracketed ? "[" + out->host + "]" : out->host;
    out->tc_url = cut(
        string_printf("%s://%s:%u/%s", scheme, host_text.c_str(), static_cast<unsigned>(out->port), out->app.c_str()),
        RTMP_TC_URL_MAX);
    return true;
}
