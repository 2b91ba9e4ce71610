// A bracketed host runs to the first ']' (an IPv6 literal holds ':' of its
// own); any other host runs to the first ':'.
#include "platform/network/url_authority.h"

bool url_split_authority(std::string_view authority, UrlAuthority* out) {
    *out = UrlAuthority{};
    out->host = authority;
    std::string_view rest;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        out->host = authority.substr(1, close - 1);
        out->bracketed = true;
        rest = authority.substr(close + 1);
        if (rest.empty()) return true;
        if (rest.front() != ':') return false;
    } else {
        size_t colon = authority.find(':');
        if (colon == std::string_view::npos) return true;
        out->host = authority.substr(0, colon);
        rest = authority.substr(colon);
    }
    out->has_port = true;
    out->port_text = rest.substr(1);
    return true;
}
