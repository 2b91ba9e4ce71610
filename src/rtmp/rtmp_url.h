// Publishing URLs: rtmp://host[:port]/app/stream-key and rtmps://...
//
// The first path segment is the application; everything after the second
// '/' is the stream key, which may itself hold '/', '?' and the like. The key
// is a secret: nothing built from this record for messages or logs may
// include it (tcUrl deliberately stops at the application).
//
// Besides the plain "host:port" form, a bracketed IPv6 literal
// ("[::1]:1935") is accepted; the host is then kept without its brackets and
// tcUrl writes them back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t RTMP_HOST_MAX = 255;
constexpr size_t RTMP_APP_MAX = 511;
constexpr size_t RTMP_STREAM_KEY_MAX = 2047;
constexpr size_t RTMP_TC_URL_MAX = 1023;
constexpr uint16_t RTMP_DEFAULT_PORT = 1935;
constexpr uint16_t RTMPS_DEFAULT_PORT = 443;

struct RtmpUrl {
    std::string host;        // as written (without IPv6 brackets), 1-255 bytes
    std::string app;         // 1-511 bytes
    std::string stream_key;  // non-empty; cut to 2047 bytes
    std::string tc_url;      // "scheme://host:port/app", cut to 1023 bytes
    uint16_t port = 0;       // 1935 for rtmp, 443 for rtmps unless given
    bool tls = false;        // rtmps
};

// Fills `out` (reset first) and returns true when `url` is a valid publishing
// URL; on false `out` holds no meaningful values.
[[nodiscard]] bool rtmp_parse_url(std::string_view url, RtmpUrl* out);
