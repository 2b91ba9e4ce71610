// URL splitting for the HTTP client. Scheme letters are compared without
// regard to case; everything else is taken byte for byte. The authority runs
// to the first '/' (a '?' or '#' before any '/' is kept inside it, as the
// request path must start with '/').
#include "net/http_url.h"

#include "platform/text.h"

namespace {

bool has_control_or_blank(std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) return true;
    }
    return false;
}

bool has_control(std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return true;
    }
    return false;
}

// "1".."65535", digits only (a port that wrapped to another number would
// silently connect somewhere else).
bool parse_port(std::string_view text, uint16_t* port) {
    if (text.empty() || text.size() > 7) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

// Splits "host", "host:port", "[v6]" or "[v6]:port".
bool split_authority(std::string_view authority, HttpUrl* url) {
    std::string_view host = authority;
    std::string_view port_text;
    bool has_port = false;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = authority.substr(1, close - 1);
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            port_text = rest.substr(1);
            has_port = true;
        }
    } else if (size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port_text = authority.substr(colon + 1);
        has_port = true;
    }
    if (host.empty() || host.size() > HTTP_URL_HOST_MAX) return false;
    if (has_port && !parse_port(port_text, &url->port)) return false;
    url->host.assign(host);
    return true;
}

}  // namespace

bool http_parse_url(std::string_view text, HttpUrl* url) {
    if (!url) return false;
    *url = HttpUrl{};
    std::string_view rest;
    if (istarts_with(text, "https://")) {
        url->tls = true;
        url->port = 443;
        rest = text.substr(8);
    } else if (istarts_with(text, "http://")) {
        url->port = 80;
        rest = text.substr(7);
    } else {
        return false;
    }
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (authority.empty() || authority.size() > HTTP_URL_HOST_MAX || has_control_or_blank(authority)) {
        *url = HttpUrl{};
        return false;
    }
    if (!split_authority(authority, url)) {
        *url = HttpUrl{};
        return false;
    }
    std::string_view path = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    if (has_control(path)) {
        *url = HttpUrl{};
        return false;
    }
    url->path.assign(path.substr(0, HTTP_URL_PATH_MAX));
    return true;
}
