// Media playlist parsing: the five tags, line ends, reference resolution and
// the refusals.
#include "net/hls_playlist.h"

#include <gtest/gtest.h>

#include <string>

#include "net/http_url.h"

namespace {

const std::string kBase = "https://host/live/abc/index.m3u8";

struct Parsed {
    bool ok = false;
    HlsPlaylist playlist;
    std::vector<std::string> urls() const {
        std::vector<std::string> urls;
        for (size_t i = 0; i < playlist.references.size(); ++i) urls.push_back(hls_segment_url(playlist, i));
        return urls;
    }
};

Parsed parse(const std::string& text, const std::string& base = kBase) {
    Parsed p;
    char error[256];
    p.ok = hls_parse_media_playlist(base, text, &p.playlist, error);
    return p;
}

std::string with_line_ends(const char* end) {
    std::string text;
    for (const char* line :
         {"#EXTM3U", "#EXT-X-VERSION:3", "#EXT-X-TARGETDURATION:4", "#EXT-X-MEDIA-SEQUENCE:7", "#EXTINF:4.0,",
          "seg-7.ts", "#EXT-X-DISCONTINUITY", "#EXT-X-DISCONTINUITY", "#EXTINF:4.0,", "seg-8.ts", "#EXT-X-ENDLIST"}) {
        text += line;
        text += end;
    }
    return text;
}

}  // namespace

TEST(HlsPlaylist, ResolvesReferencesAgainstThePlaylistUrl) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"https://host/live/abc/index.m3u8", "seg-101.ts", "https://host/live/abc/seg-101.ts"},
        {"https://host/live/abc/index.m3u8", "/other/seg.ts", "https://host/other/seg.ts"},
        {"https://host/live/abc/index.m3u8", "http://cdn.example/x/seg.ts", "http://cdn.example/x/seg.ts"},
        {"https://host/live/abc/index.m3u8", "//cdn.example/seg.ts", "https://cdn.example/seg.ts"},
        {"https://host/live/abc/index.m3u8", "../up/./seg.ts", "https://host/live/up/seg.ts"},
        {"https://host/live/abc/index.m3u8", "../../../seg.ts", "https://host/seg.ts"},
        {"https://host/live/abc/index.m3u8?t=1", "?t=2", "https://host/live/abc/index.m3u8?t=2"},
        // A name that merely carries a URL in its query is still relative.
        {"https://host/live/index.m3u8", "seg.ts?from=http://x/y", "https://host/live/seg.ts?from=http://x/y"},
        // A '/' in the query is not part of the directory.
        {"https://host/live/index.m3u8?token=a/b", "seg.ts", "https://host/live/seg.ts"},
        // No path at all: a '/' between the two.
        {"http://host:8080", "seg.ts", "http://host:8080/seg.ts"},
        {"http://host:8080", "/seg.ts", "http://host:8080/seg.ts"},
    };
    // The playlist resolves each entry this way (the parses below show it).
    for (const auto& [base, reference, expected] : cases) EXPECT_EQ(http_resolve_reference(base, reference), expected);
}

TEST(HlsPlaylist, LineEndsCrLfLfAndCrParseTheSame) {
    for (const char* end : {"\r\n", "\n", "\r", "\n\n\r\r\n"}) {
        Parsed p = parse(with_line_ends(end));
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(std::tuple(p.playlist.media_sequence, p.playlist.target_duration, p.playlist.end_list),
                  std::tuple(7, 4u, true));
        EXPECT_EQ(p.urls(),
                  (std::vector<std::string>{"https://host/live/abc/seg-7.ts", "https://host/live/abc/seg-8.ts"}));
        EXPECT_EQ(p.playlist.discontinuity, (std::vector<uint8_t>{0, 1}));  // the segment after the marks
    }
}

TEST(HlsPlaylist, ReadsLargeNumbersAndKeepsTheirLimits) {
    Parsed p = parse("#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:1700000000123\n#EXT-X-TARGETDURATION:6.006\na.ts\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(std::tuple(p.playlist.media_sequence, p.playlist.target_duration), std::tuple(1700000000123LL, 6u));
    p = parse("#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:99999999999999999999999\n#EXT-X-TARGETDURATION:99999999999\na.ts\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(std::tuple(p.playlist.media_sequence, p.playlist.target_duration),
              std::tuple(int64_t{1} << 62, UINT32_MAX));
    p = parse("#EXTM3U\na.ts\n");
    EXPECT_EQ(std::tuple(p.playlist.media_sequence, p.playlist.target_duration, p.playlist.end_list),
              std::tuple(0, 0u, false));
}

TEST(HlsPlaylist, TagsMatchOnlyAtLineStartWithExactCase) {
    Parsed p = parse("\xEF\xBB\xBF  \t#EXTM3U\n #EXT-X-ENDLIST \n#ext-x-media-sequence:5\n\t seg.ts\n#EXT-X-KEY:x\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(std::tuple(p.playlist.end_list, p.playlist.media_sequence), std::tuple(false, 0));  // trailing blank
    EXPECT_EQ(p.urls(), std::vector<std::string>{"https://host/live/abc/seg.ts"});
    EXPECT_FALSE(parse("#EXTM3U \nseg.ts\n").ok);  // header with a trailing blank is not a header
}

// A failed parse also empties a playlist parsed before into the same record.
TEST(HlsPlaylist, RefusesTextsThatAreNotMediaPlaylists) {
    std::string entries = "#EXTM3U\n";
    for (size_t i = 0; i < HLS_PLAYLIST_MAX_ENTRIES; ++i) entries += "s.ts\n";
    const std::string not_media = "not an HLS media playlist";
    const std::pair<std::string, std::string> cases[] = {
        {"seg-1.ts\nseg-2.ts\n", not_media},
        {"#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-ENDLIST\n", not_media},
        {"", not_media},
        {"<html>not found</html>", not_media},
        {std::string("#EXTM3U\n\0seg.ts\n", 16), not_media},
        {entries + "one-too-many.ts\n", "HLS playlist has too many entries (over 10000)"}};
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text.substr(0, 40));
        Parsed earlier = parse(with_line_ends("\n"));
        char error[64];
        EXPECT_FALSE(hls_parse_media_playlist(kBase, text, &earlier.playlist, error));
        EXPECT_EQ(error, message);
        EXPECT_TRUE(earlier.playlist.references.empty());
    }
    // The most entries there may be, against a long base URL: each entry is
    // held as listed, the base once.
    Parsed most = parse(entries, "https://host/" + std::string(8000, 'p') + "/index.m3u8");
    ASSERT_TRUE(most.ok);
    EXPECT_EQ(most.playlist.references.size(), HLS_PLAYLIST_MAX_ENTRIES);
    EXPECT_EQ(most.playlist.references.back(), "s.ts");
}
