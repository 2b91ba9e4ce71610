// URL splitting for the HTTP client. Scheme letters are compared without
// regard to case; everything else is taken byte for byte. The authority runs
// to the first '/' (a '?' or '#' before any '/' is kept inside it, as the
// request path must start with '/').
#include "net/http_url.h"

#include <cctype>
#include <vector>

#include "platform/network/url_authority.h"
#include "platform/text/text.h"

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

// Host (1-255 bytes) and, when written, port of the authority.
bool split_authority(std::string_view authority, HttpUrl* url) {
    UrlAuthority parts;
    if (!url_split_authority(authority, &parts)) return false;
    if (parts.host.empty() || parts.host.size() > HTTP_URL_HOST_MAX) return false;
    if (parts.has_port && !parse_port(parts.port_text, &url->port)) return false;
    url->host.assign(parts.host);
    return true;
}

// True when `text` starts with a scheme followed by "://".
bool has_scheme(std::string_view text) {
    size_t end = text.find("://");
    if (end == std::string_view::npos || end == 0) return false;
    for (char c : text.substr(0, end)) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

// "scheme://authority" of `url`; the whole text when it has no "://".
std::string_view origin_of(std::string_view url) {
    size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos) return url;
    size_t path = url.find_first_of("/?#", scheme_end + 3);
    return path == std::string_view::npos ? url : url.substr(0, path);
}

// The path of `url` up to and including its last '/', "/" when it has none.
std::string_view directory_of(std::string_view path) {
    path = path.substr(0, path.find_first_of("?#"));
    size_t last = path.rfind('/');
    return last == std::string_view::npos ? std::string_view("/") : path.substr(0, last + 1);
}

// `path` (beginning with '/') without "." and ".." segments; a query or
// fragment is kept as it is.
std::string remove_dot_segments(std::string_view path) {
    size_t end = path.find_first_of("?#");
    std::string_view tail = end == std::string_view::npos ? std::string_view() : path.substr(end);
    path = path.substr(0, end);
    std::vector<std::string_view> kept;
    bool ends_in_folder = false;
    for (size_t at = 1;;) {
        size_t slash = path.find('/', at);
        std::string_view segment =
            path.substr(at, slash == std::string_view::npos ? std::string_view::npos : slash - at);
        bool dots = segment == "." || segment == "..";
        if (segment == ".." && !kept.empty()) kept.pop_back();
        if (!dots) kept.push_back(segment);
        ends_in_folder = dots;
        if (slash == std::string_view::npos) break;
        at = slash + 1;
    }
    std::string result;
    for (std::string_view segment : kept) {
        result += '/';
        result += segment;
    }
    if (ends_in_folder || result.empty()) result += '/';
    result += tail;
    return result;
}

}  // namespace

std::string http_resolve_reference(std::string_view base, std::string_view reference) {
    if (has_scheme(reference)) return std::string(reference);
    std::string_view origin = origin_of(base);
    if (reference.starts_with("//")) return std::string(base.substr(0, base.find("://") + 1)) + std::string(reference);
    std::string_view base_path = base.substr(origin.size());
    std::string path;
    if (reference.starts_with("/")) {
        path = reference;
    } else if (reference.starts_with("?")) {
        path = std::string(base_path.substr(0, base_path.find_first_of("?#"))) + std::string(reference);
        if (path.front() == '?') path.insert(0, "/");
    } else {
        path = std::string(directory_of(base_path)) + std::string(reference);
    }
    return std::string(origin) + remove_dot_segments(path);
}

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
