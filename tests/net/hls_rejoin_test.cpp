// A downloader that joins after the segments a run has already recorded (a
// reconnect): against scripted playlists whose numbers continue, whose paths
// change, whose numbering restarts or renumbers the same segments, it
// fetches nothing recorded and skips nothing that was not.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/hls_downloader.h"
#include "net/segment_ring.h"
#include "support/scripted_http_server.h"

namespace {

struct Listing {
    int64_t media_sequence;
    std::string folder;  // "/live/a-" and the like
    int first_name;      // the first entry is <folder><first_name>.ts
    int count;
};

std::string playlist_text(const Listing& listing) {
    std::string text =
        "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(listing.media_sequence) + "\n";
    for (int i = 0; i < listing.count; ++i) {
        text += "#EXTINF:2.0,\n" + listing.folder + std::to_string(listing.first_name + i) + ".ts\n";
    }
    return text;
}

struct RejoinCase {
    const char* name;
    std::vector<std::pair<int64_t, std::string>> recorded;  // sequence, path on the server
    std::vector<Listing> playlists;                         // served in turn, the last repeats
    std::vector<std::string> expected;                      // the first segments taken, in order
};

class HlsRejoinThreads : public ::testing::TestWithParam<RejoinCase> {};

TEST_P(HlsRejoinThreads, JoinsAfterTheRecordedSegments) {
    const RejoinCase& c = GetParam();
    ScriptedHttpServer server;
    ASSERT_TRUE(server.start());
    server.on_other([](const ScriptedRequest& request, int) { return http_reply(200, request.path); });
    std::vector<ScriptedReply> replies;
    for (const Listing& listing : c.playlists) replies.push_back(http_reply(200, playlist_text(listing)));
    server.set_replies("/index.m3u8", replies);

    HlsSegmentHistory recorded;
    for (const auto& [sequence, path] : c.recorded) {
        hls_history_add(&recorded, SegmentLabel{sequence, server.url(path), false});
    }
    Event stop;
    SegmentRingPtr ring(hls_downloader_start(server.url("/index.m3u8"), &stop, &recorded));
    ASSERT_TRUE(ring);
    std::vector<std::string> taken;
    for (size_t i = 0; i < c.expected.size(); ++i) {
        ByteBuffer segment;
        SegmentLabel label;
        ASSERT_EQ(segment_ring_take(ring.get(), &segment, &label), SegmentTake::segment) << c.name;
        taken.emplace_back(byte_buffer_text(segment));
        byte_buffer_free(&segment);
        EXPECT_EQ(label.path, server.url(taken.back())) << c.name;
    }
    EXPECT_EQ(taken, c.expected) << c.name;
    for (const auto& [sequence, path] : c.recorded) EXPECT_EQ(server.request_count(path), 0) << c.name << path;
}

INSTANTIATE_TEST_SUITE_P(Cases, HlsRejoinThreads,
                         ::testing::Values(RejoinCase{"numbers continue",
                                                      {{105, "/live/a-105.ts"}, {106, "/live/a-106.ts"}},
                                                      {{100, "/live/a-", 100, 10}},
                                                      {"/live/a-107.ts", "/live/a-108.ts", "/live/a-109.ts"}},
                                           // A re-resolved URL: other paths, the same numbers.
                                           RejoinCase{"numbers continue under new paths",
                                                      {{105, "/old/a-105.ts"}, {106, "/old/a-106.ts"}},
                                                      {{100, "/live/a-", 100, 10}},
                                                      {"/live/a-107.ts", "/live/a-108.ts", "/live/a-109.ts"}},
                                           RejoinCase{"everything listed was recorded: the next new one",
                                                      {{108, "/live/a-108.ts"}, {109, "/live/a-109.ts"}},
                                                      {{100, "/live/a-", 100, 10}, {101, "/live/a-", 101, 10}},
                                                      {"/live/a-110.ts"}},
                                           RejoinCase{"the playlist moved past the recorded: all it lists",
                                                      {{90, "/live/a-90.ts"}},
                                                      {{100, "/live/a-", 100, 10}},
                                                      {"/live/a-100.ts", "/live/a-101.ts"}},
                                           // The origin restarted between the attempts.
                                           RejoinCase{"numbering restarted with new segments: all it lists",
                                                      {{5000, "/live/a-5000.ts"}, {5001, "/live/a-5001.ts"}},
                                                      {{0, "/live/b-", 0, 4}},
                                                      {"/live/b-0.ts", "/live/b-1.ts", "/live/b-2.ts", "/live/b-3.ts"}},
                                           RejoinCase{"the same segments numbered anew, lower",
                                                      {{105, "/live/a-105.ts"}, {106, "/live/a-106.ts"}},
                                                      {{0, "/live/a-", 100, 10}},
                                                      {"/live/a-107.ts", "/live/a-108.ts", "/live/a-109.ts"}},
                                           RejoinCase{"the same segments numbered anew, higher",
                                                      {{105, "/live/a-105.ts"}, {106, "/live/a-106.ts"}},
                                                      {{7000, "/live/a-", 100, 10}},
                                                      {"/live/a-107.ts", "/live/a-108.ts", "/live/a-109.ts"}}),
                         [](const ::testing::TestParamInfo<RejoinCase>& info) {
                             return "Case" + std::to_string(info.index);
                         });

}  // namespace
