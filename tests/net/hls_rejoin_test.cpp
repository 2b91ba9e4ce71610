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
    std::string recorded_folder;     // where the recorded segments were fetched from
    std::vector<int> recorded;       // their numbers, sequence and name alike
    std::vector<Listing> playlists;  // served in turn, the last repeats
    std::vector<int> expected;       // the first segments taken, by name under the last playlist's folder
};

std::string segment_path(const std::string& folder, int n) {
    return folder + std::to_string(n) + ".ts";
}

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
    for (int n : c.recorded) hls_history_add(&recorded, {n, server.url(segment_path(c.recorded_folder, n)), false});
    Event stop;
    SegmentRingPtr ring(hls_downloader_start(server.url("/index.m3u8"), &stop, &recorded));
    ASSERT_TRUE(ring);
    std::vector<std::string> taken, expected;
    for (int n : c.expected) {
        expected.push_back(segment_path(c.playlists.back().folder, n));
        ByteBuffer segment;
        SegmentLabel label;
        ASSERT_EQ(segment_ring_take(ring.get(), &segment, &label), SegmentTake::segment) << c.name;
        taken.emplace_back(byte_buffer_text(segment));
        byte_buffer_free(&segment);
        EXPECT_EQ(label.path, server.url(taken.back())) << c.name;
    }
    EXPECT_EQ(taken, expected) << c.name;
    for (int n : c.recorded) EXPECT_EQ(server.request_count(segment_path(c.recorded_folder, n)), 0) << c.name << n;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HlsRejoinThreads,
    ::testing::Values(
        RejoinCase{"numbers continue", "/live/a-", {105, 106}, {{100, "/live/a-", 100, 10}}, {107, 108, 109}},
        // A re-resolved URL: other paths, the same numbers.
        RejoinCase{"new paths", "/old/a-", {105, 106}, {{100, "/live/a-", 100, 10}}, {107, 108, 109}},
        RejoinCase{
            "all recorded", "/live/a-", {108, 109}, {{100, "/live/a-", 100, 10}, {101, "/live/a-", 101, 10}}, {110}},
        RejoinCase{"moved past the recorded", "/live/a-", {90}, {{100, "/live/a-", 100, 10}}, {100, 101}},
        // The origin restarted between the attempts.
        RejoinCase{"restarted anew", "/live/a-", {5000, 5001}, {{0, "/live/b-", 0, 4}}, {0, 1, 2, 3}},
        RejoinCase{"renumbered lower", "/live/a-", {105, 106}, {{0, "/live/a-", 100, 10}}, {107, 108, 109}},
        RejoinCase{"renumbered higher", "/live/a-", {105, 106}, {{7000, "/live/a-", 100, 10}}, {107, 108, 109}}),
    [](const ::testing::TestParamInfo<RejoinCase>& info) { return "Case" + std::to_string(info.index); });

}  // namespace
