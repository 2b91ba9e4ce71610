// Playlist scanning. Lines end at CR or LF (any mix, so CR LF, LF and lone CR
// files read the same); runs of them make no empty lines. Tags are matched
// at the start of the line after blanks and tabs, with exact case; a tag
// that must match exactly is not recognised with trailing blanks.
#include "net/hls_playlist.h"

#include <new>

#include "net/http_url.h"
#include "platform/text/error_text.h"
#include "platform/text/text.h"

namespace {

constexpr int64_t kMaxMediaSequence = int64_t{1} << 62;

template <typename Number>
Number leading_decimal(std::string_view text, Number limit) {
    Number value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        auto digit = static_cast<Number>(c - '0');
        if (value > (limit - digit) / 10) return limit;
        value = static_cast<Number>(value * 10 + digit);
    }
    return value;
}

enum class Line { other, header, one_too_many };

Line add_reference(HlsPlaylist* playlist, std::string_view line) {
    auto& references = playlist->references;
    if (references.size() == HLS_PLAYLIST_MAX_ENTRIES) return Line::one_too_many;
    if (references.size() == references.capacity()) {
        references.reserve(references.empty() ? HLS_PLAYLIST_INITIAL_CAPACITY : references.capacity() * 2);
    }
    references.emplace_back(line);
    playlist->discontinuity.push_back(playlist->discontinuity_next ? 1 : 0);
    playlist->discontinuity_next = false;
    return Line::other;
}

// One line, leading blanks already skipped.
Line scan_line(HlsPlaylist* playlist, std::string_view line) {
    if (line == "#EXTM3U") return Line::header;
    constexpr std::string_view kSequence = "#EXT-X-MEDIA-SEQUENCE:";
    constexpr std::string_view kTarget = "#EXT-X-TARGETDURATION:";
    if (line.starts_with(kSequence)) {
        playlist->media_sequence = leading_decimal<int64_t>(line.substr(kSequence.size()), kMaxMediaSequence);
    } else if (line.starts_with(kTarget)) {
        playlist->target_duration = leading_decimal<uint32_t>(line.substr(kTarget.size()), UINT32_MAX);
    } else if (line == "#EXT-X-ENDLIST") {
        playlist->end_list = true;
    } else if (line == "#EXT-X-DISCONTINUITY") {
        playlist->discontinuity_next = true;
    } else if (!line.empty() && line.front() != '#') {
        return add_reference(playlist, line);
    }
    return Line::other;
}

}  // namespace

bool hls_parse_media_playlist(std::string_view playlist_url, std::string_view text, HlsPlaylist* playlist,
                              std::span<char> error) {
    if (!playlist) return false;
    hls_playlist_free(playlist);
    text = text.substr(0, text.find('\0'));
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte-order mark some servers add
    bool header = false;
    try {
        playlist->base_url.assign(playlist_url);
        while (!text.empty()) {
            size_t end = text.find_first_of("\r\n");
            std::string_view line = text.substr(0, end);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
            Line seen = scan_line(playlist, line);
            if (seen == Line::header) header = true;
            if (seen == Line::one_too_many) {
                hls_playlist_free(playlist);
                error_printf(error, "HLS playlist has too many entries (over %zu)", HLS_PLAYLIST_MAX_ENTRIES);
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        hls_playlist_free(playlist);
        error_printf(error, "out of memory");
        return false;
    }
    if (!header || playlist->references.empty()) {
        hls_playlist_free(playlist);
        error_printf(error, "not an HLS media playlist");
        return false;
    }
    return true;
}

std::string hls_segment_url(const HlsPlaylist& playlist, size_t index) {
    return http_resolve_reference(playlist.base_url, playlist.references[index]);
}

void hls_playlist_free(HlsPlaylist* playlist) {
    if (!playlist) return;
    *playlist = HlsPlaylist{};
}
