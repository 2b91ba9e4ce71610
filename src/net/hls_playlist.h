// HLS media playlist: the segment URLs and the three playlist-level values a
// live downloader needs (media sequence of the first entry, target duration,
// end-of-list mark).
//
// A line scanner that knows five tags and ignores every other '#' line.
// Encryption, byte ranges and initialisation sections are not supported
// (their tags are ignored, segments are fetched whole); a master playlist is
// not told apart, so its variant URLs come out as "segments". Relative
// references are made absolute against the playlist URL the caller gives
// (the URL the playlist was finally fetched from, after any redirect), one at
// a time when asked for: the record keeps them as listed, so a long base URL
// is held once, not once per entry.
//
// What an origin can make us hold is bounded: the text by the fetch (4 MiB),
// the entries here (10 000, some hours of 1 s segments; live playlists list
// a few dozen).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t HLS_PLAYLIST_INITIAL_CAPACITY = 32;  // entries; doubles when full
constexpr size_t HLS_PLAYLIST_MAX_BYTES = size_t{4} << 20;
constexpr size_t HLS_PLAYLIST_MAX_ENTRIES = 10000;

struct HlsPlaylist {
    std::string base_url;                 // what the references resolve against
    std::vector<std::string> references;  // the segment references as listed, in playlist order
    int64_t media_sequence = 0;           // of the first entry; 0 when absent
    uint32_t target_duration = 0;         // seconds; 0 when absent
    bool end_list = false;                // #EXT-X-ENDLIST seen
    // Beside each segment URL: 1 when #EXT-X-DISCONTINUITY came before it
    // (its timestamps need not continue those of the segment before).
    std::vector<uint8_t> discontinuity;
    bool discontinuity_next = false;  // while parsing: the mark waits for its segment
};

// Parses `text` (up to its first NUL, if any) into `playlist`, which is reset
// first. On false `playlist` is empty and `error` holds "not an HLS media
// playlist" (no #EXTM3U line, or no segment reference), "HLS playlist has too
// many entries (over 10000)" or "out of memory".
// Numbers are read from their leading digits; a media sequence beyond 2^62
// is held at 2^62 so sequence arithmetic cannot overflow.
[[nodiscard]] bool hls_parse_media_playlist(std::string_view playlist_url, std::string_view text, HlsPlaylist* playlist,
                                            std::span<char> error);

// The absolute URL of entry `index` (below references.size()).
[[nodiscard]] std::string hls_segment_url(const HlsPlaylist& playlist, size_t index);

// Frees every URL and resets the record; accepts nullptr.
void hls_playlist_free(HlsPlaylist* playlist);
