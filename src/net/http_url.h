// HttpUrl: the parts of an http:// or https:// URL that one GET needs.
//
// Only what a request uses is kept: host (for the connection, SNI, the
// certificate check and the Host field), port, and the path with query and
// fragment exactly as written. User information, IPv6 zone ids and other
// schemes are not supported. References in playlists and Location fields are
// made absolute here too, against the URL they came from. Texts are bounded like the fixed fields they
// stand in for: host 1-255 bytes (longer is invalid), path up to 4095 bytes
// (longer is cut).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t HTTP_URL_HOST_MAX = 255;
constexpr size_t HTTP_URL_PATH_MAX = 4095;

struct HttpUrl {
    std::string host;   // name or address; an IPv6 literal without its brackets
    std::string path;   // from the first '/' after the authority; "/" when there is none
    uint16_t port = 0;  // 80, 443 or the explicit port
    bool tls = false;   // https
};

// Fills `url` (reset first) from `text`. False for another scheme, an empty or
// over-long authority or host, a port that is not a number from 1 to 65535,
// or control characters or blanks in the authority or control characters in
// the path (they would let a URL inject header lines).
[[nodiscard]] bool http_parse_url(std::string_view text, HttpUrl* url);

// `reference` made absolute against `base` (the URL it came from):
//   begins with a scheme ("x://")  -> unchanged
//   begins with "//"               -> base's scheme in front
//   begins with "/"                -> base's scheme and authority in front
//   begins with "?"                -> base without its query and fragment, then it
//   anything else                  -> base up to the last '/' of its path
//                                     (a '/' in a query does not count), then it
// "." and ".." segments of a joined path are removed, as a server would.
[[nodiscard]] std::string http_resolve_reference(std::string_view base, std::string_view reference);
