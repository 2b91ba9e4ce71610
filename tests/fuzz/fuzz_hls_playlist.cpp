// Any bytes as a media playlist: parsing must succeed or fail cleanly, and a
// successful parse must hold only absolute-looking URLs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/hls_playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    // The first line picks the playlist URL, so resolution sees odd bases too.
    size_t newline = text.find('\n');
    std::string_view base = "https://host/live/abc/index.m3u8?token=a/b";
    if (newline != std::string_view::npos && newline < 200) {
        base = text.substr(0, newline);
        text.remove_prefix(newline + 1);
    }
    HlsPlaylist playlist;
    char error[64];
    if (hls_parse_media_playlist(base, text, &playlist, error)) {
        if (playlist.references.empty() || playlist.media_sequence < 0) std::abort();
        for (size_t i = 0; i < playlist.references.size(); ++i) (void)hls_segment_url(playlist, i);
    } else if (!playlist.references.empty()) {
        std::abort();
    }
    hls_playlist_free(&playlist);
    return 0;
}
