// The downloader and its ring against scripted playlists: where a new
// downloader starts, where one joins after the segments a run recorded,
// what each later poll delivers, how it ends, how it waits, and that
// tear-down is prompt and safe. Then against an origin that misbehaves as
// live origins do over days, serving ffmpeg-made segments: a relative
// redirect to another folder, a playlist that stops growing, segments that
// expire (403) or hang. (A stop reaching a connect that never completes is
// the event's and the HTTP client's test.)
#include "net/hls_downloader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>

#include "net/hls_playlist.h"
#include "net/segment_ring.h"
#include "platform/time/clock.h"
#include "support/hostile_origin.h"
#include "support/scripted_http_server.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

// Media playlist at sequence `first` listing seg-<first>.ts on, `count` of
// them (or <name><first_name>.ts on).
std::string playlist_text(int64_t first, int count, int target = 2, bool end_list = false,
                          const std::string& name = "seg-", int64_t first_name = -1) {
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + std::to_string(target) +
                       "\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(first) + "\n";
    for (int i = 0; i < count; ++i)
        text += "#EXTINF:2.000,\n" + name + std::to_string((first_name < 0 ? first : first_name) + i) + ".ts\n";
    return end_list ? text + "#EXT-X-ENDLIST\n" : text;
}

struct Taken {
    std::vector<std::string> segments;
    SegmentTake end = SegmentTake::segment;
    std::string error;
};

// Up to `count` segments, or all until the ring gives no more (bounded far
// beyond any stall limit used here).
Taken take_bodies(SegmentRing* ring, size_t count = SIZE_MAX) {
    Taken taken;
    uint64_t deadline = tick_ms() + 60000;
    while (taken.end == SegmentTake::segment && taken.segments.size() < count && tick_ms() < deadline) {
        ByteBuffer segment;
        taken.end = segment_ring_take(ring, &segment);
        if (taken.end == SegmentTake::segment) taken.segments.emplace_back(byte_buffer_text(segment));
        byte_buffer_free(&segment);
    }
    char error[SEGMENT_RING_ERROR_SIZE];
    segment_ring_error(ring, error);
    taken.error = error;
    return taken;
}

class HlsDownloaderThreads : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        server.on_other([](const ScriptedRequest& request, int) {
            if (request.path.ends_with(".ts")) return http_reply(200, "segment " + request.path);
            return http_reply(404, "");
        });
    }

    // Playlists in turn (the last repeats) at `folder`/index.m3u8.
    void serve_playlists(std::vector<std::string> texts, const std::string& folder = "/live") {
        std::vector<ScriptedReply> replies;
        for (const std::string& text : texts) replies.push_back(http_reply(200, text));
        server.set_replies(folder + "/index.m3u8", replies);
    }

    SegmentRingPtr start(const std::string& folder = "/live", const HlsSegmentHistory* recorded = nullptr) {
        return SegmentRingPtr(hls_downloader_start(server.url(folder + "/index.m3u8"), &stop, recorded));
    }

    // The numbers of the segments take_bodies gives ("segment .../seg-N.ts"), and why it stopped.
    static std::vector<int64_t> take_all(SegmentRing* ring, SegmentTake* end, size_t count = SIZE_MAX) {
        Taken taken = take_bodies(ring, count);
        *end = taken.end;
        std::vector<int64_t> numbers;
        for (const std::string& body : taken.segments)
            numbers.push_back(std::stoll(body.substr(body.find("seg-") + 4)));
        return numbers;
    }

    ScriptedHttpServer server;
    Event stop;
};

class HlsHostileOriginThreads : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static TempDir folder;
        static std::vector<MadeSegment> made;
        ASSERT_TRUE(make_hls_segments(folder.path(), 6, &made));
        made_ = &made;
    }
    void SetUp() override { ASSERT_TRUE(origin.start()); }
    static const MadeSegment& made(size_t n) { return (*made_)[n % made_->size()]; }

    static inline std::vector<MadeSegment>* made_ = nullptr;
    HostileOrigin origin;
    Event stop;
};

}  // namespace

// What each later poll delivers. A new downloader starts with the last two
// entries; a lagging copy (its newest entry already delivered) is not a
// restart, an origin that numbers anew is followed from its first entry; a
// failed segment is retried at the next poll, and given up after five.
TEST_F(HlsDownloaderThreads, PlaylistSequencesDeliverInOrder) {
    const std::vector<ScriptedReply> fail_once = {http_reply(500, ""), http_reply(200, "segment seg-7")};
    constexpr SegmentTake ENDED = SegmentTake::ended;
    struct Case {
        const char* name;
        std::vector<std::string> playlists;
        std::vector<int64_t> taken;
        SegmentTake end;
        int playlist_requests;  // -1: not checked
        std::string segment;    // with its replies and how often it is asked for
        std::vector<ScriptedReply> replies;
        int segment_requests;
    };
    auto row = [](const char* name, std::vector<std::string> playlists, std::vector<int64_t> taken,
                  SegmentTake end = SegmentTake::ended, int playlist_requests = -1, std::string segment = "none",
                  std::vector<ScriptedReply> replies = {}, int segment_requests = 0) {
        return Case{name, playlists, taken, end, playlist_requests, segment, replies, segment_requests};
    };
    const Case cases[] = {
        row("follows", {playlist_text(100, 10), playlist_text(101, 10)}, {108, 109, 110}, SegmentTake::segment, -1,
            "seg-107.ts"),
        row("short finished list", {playlist_text(0, 2, 2, true)}, {0, 1}, ENDED, 1),
        row("restarted numbering",
            {playlist_text(5000, 3), playlist_text(4999, 3), playlist_text(0, 3), playlist_text(0, 5, 2, true)},
            {5001, 5002, 0, 1, 2, 3, 4}, ENDED, 4),
        row("moved on: resumes at its first entry",
            {playlist_text(0, 3), playlist_text(10, 3), playlist_text(10, 3), playlist_text(11, 3, 2, true)},
            {1, 2, 10, 11, 12, 13}),
        row("failed segment retried in order", {playlist_text(0, 6), playlist_text(0, 9), playlist_text(0, 9, 2, true)},
            {4, 5, 6, 7, 8}, ENDED, -1, "seg-7.ts", fail_once, 2),
        row("segment that never comes is skipped", {playlist_text(0, 3, 2, true)}, {2}, ENDED,
            HLS_SEGMENT_ATTEMPT_LIMIT, "seg-1.ts", {http_reply(500, "")}, HLS_SEGMENT_ATTEMPT_LIMIT),
    };
    int folder = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/c" + std::to_string(folder++);
        serve_playlists(c.playlists, path);
        if (!c.replies.empty()) server.set_replies(path + "/" + c.segment, c.replies);
        SegmentRingPtr ring = start(path);
        SegmentTake end;
        EXPECT_EQ(take_all(ring.get(), &end, c.taken.size() + (c.end == SegmentTake::segment ? 0 : 1)), c.taken);
        EXPECT_EQ(std::tuple(end, segment_ring_marks(ring.get()).failed), std::tuple(c.end, false));
        if (c.playlist_requests >= 0) {
            EXPECT_EQ(server.request_count(path + "/index.m3u8"), c.playlist_requests);
        }
        EXPECT_EQ(server.request_count(path + "/" + c.segment), c.segment_requests);
    }
}

// A downloader that joins after the segments a run has already recorded (a
// reconnect) fetches nothing recorded and skips nothing that was not: when
// the numbers continue, the paths change, the numbering restarts, or the same
// segments are numbered anew.
TEST_F(HlsDownloaderThreads, JoinsAfterTheRecordedSegments) {
    using Listing = std::tuple<int64_t, std::string, int, int>;  // sequence, name, first name's number, count
    // The recorded segments' name and numbers (sequence and name alike), the
    // playlists served in turn (the last repeats), the first names taken.
    const std::tuple<const char*, std::string, std::vector<int>, std::vector<Listing>, std::vector<std::string>>
        cases[] = {
            {"numbers continue", "a-", {105, 106}, {{100, "a-", 100, 10}}, {"a-107", "a-108", "a-109"}},
            {"new paths", "old-a-", {105, 106}, {{100, "a-", 100, 10}}, {"a-107", "a-108", "a-109"}},
            {"all recorded", "a-", {108, 109}, {{100, "a-", 100, 10}, {101, "a-", 101, 10}}, {"a-110"}},
            {"moved past the recorded", "a-", {90}, {{100, "a-", 100, 10}}, {"a-100", "a-101"}},
            {"restarted anew", "a-", {5000, 5001}, {{0, "b-", 0, 4}}, {"b-0", "b-1", "b-2", "b-3"}},
            {"renumbered lower", "a-", {105, 106}, {{0, "a-", 100, 10}}, {"a-107", "a-108", "a-109"}},
            {"renumbered higher", "a-", {105, 106}, {{7000, "a-", 100, 10}}, {"a-107", "a-108", "a-109"}},
        };
    int folder = 0;
    for (const auto& [name, recorded_name, recorded, playlists, expected] : cases) {
        SCOPED_TRACE(name);
        const std::string path = "/r" + std::to_string(folder++);
        auto segment_path = [&](const std::string& segment) { return path + "/" + segment + ".ts"; };
        std::vector<std::string> texts, taken, wanted;  // taken: each body and its label's path
        for (const auto& [sequence, listed, first_name, count] : playlists)
            texts.push_back(playlist_text(sequence, count, 2, false, listed, first_name));
        serve_playlists(texts, path);
        HlsSegmentHistory history;
        for (int n : recorded)
            hls_history_add(&history, {n, server.url(segment_path(recorded_name + std::to_string(n)))});
        SegmentRingPtr ring = start(path, &history);
        for (const std::string& want : expected) {
            ByteBuffer segment;
            SegmentLabel label;
            ASSERT_EQ(segment_ring_take(ring.get(), &segment, &label), SegmentTake::segment);
            taken.push_back(std::string(byte_buffer_text(segment)) + " at " + label.path);
            byte_buffer_free(&segment);
            wanted.push_back("segment " + segment_path(want) + " at " + server.url(segment_path(want)));
        }
        EXPECT_EQ(taken, wanted);
        for (int n : recorded) EXPECT_EQ(server.request_count(segment_path(recorded_name + std::to_string(n))), 0) << n;
    }
}

// A playlist request that keeps failing (also one past the size bound, sent
// without a length) is tried five times; a text that is no playlist fails
// at once.
TEST_F(HlsDownloaderThreads, PlaylistFailuresAreFatal) {
    std::string huge = "HTTP/1.1 200 OK\r\n\r\n#EXTM3U\n";
    while (huge.size() < HLS_PLAYLIST_MAX_BYTES + 100) huge += "#EXTINF:2.000,\nseg.ts\n";
    const std::tuple<std::string, ScriptedReply, const char*, int> cases[] = {
        {"/gone", http_reply(404, "gone"), "playlist request failed with HTTP status 404", 5},
        {"/huge", {.bytes = huge}, "HLS playlist too large (over 4 MiB)", 5},
        {"/html", http_reply(200, "<html>hello</html>"), "not an HLS media playlist", 1}};
    for (const auto& [folder, reply, message, requests] : cases) {
        server.set_reply(folder + "/index.m3u8", reply);
        SegmentRingPtr ring = start(folder);
        SegmentTake why;
        EXPECT_TRUE(take_all(ring.get(), &why).empty());
        EXPECT_EQ(std::tuple(why, segment_ring_marks(ring.get()).failed), std::tuple(SegmentTake::failed, true));
        // The downloader marks its end just after the failure.
        EXPECT_TRUE(wait_until([&] { return segment_ring_marks(ring.get()).ended; }, 2000));
        char error[256] = "untouched";
        segment_ring_error(ring.get(), error);
        EXPECT_STREQ(error, message);
        EXPECT_EQ(server.request_count(folder + "/index.m3u8"), requests);
    }
}

TEST_F(HlsDownloaderThreads, FullRingWaitsAndStopEndsIt) {
    // Each poll lists four more segments; the engine takes none.
    server.on("/live/index.m3u8", [](const ScriptedRequest&, int index) {
        return http_reply(200, playlist_text(0, std::min(2 + 4 * index, 40)));
    });
    SegmentRingPtr ring = start();
    auto full = [&] {
        std::lock_guard guard(ring->lock);
        return ring->count == SEGMENT_RING_SLOTS;
    };
    ASSERT_TRUE(wait_until(full, 20000));
    // Full: the downloader holds one fetched batch and asks for nothing more.
    int polls = server.request_count("/live/index.m3u8");
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(server.request_count("/live/index.m3u8"), polls);
    EXPECT_FALSE(segment_ring_marks(ring.get()).ended);
    stop.set();
    EXPECT_TRUE(wait_until([&] { return segment_ring_marks(ring.get()).ended; }, 5000));
    EXPECT_FALSE(segment_ring_marks(ring.get()).failed);
    // Segments already in the ring are still taken after a stop, in order.
    SegmentTake why;
    std::vector<int64_t> want(SEGMENT_RING_SLOTS);
    std::iota(want.begin(), want.end(), 0);
    EXPECT_EQ(take_all(ring.get(), &why), want);
    EXPECT_EQ(why, SegmentTake::stopped);
}

// What a ring holds counts against its budget; the downloader starts a fetch
// only when the budget has room for a segment of the largest size.
TEST(SegmentRingBudget, RoomIsWhatTheHeldSegmentsLeave) {
    Event stop;
    SegmentRingPtr ring(segment_ring_start("http://127.0.0.1:9/", &stop, [](SegmentRing* r) {
        segment_ring_finish(r);
        return 0;
    }));
    ASSERT_TRUE(ring);
    constexpr uint64_t kFit = SEGMENT_RING_BYTE_BUDGET / HLS_SEGMENT_MAX_BYTES;
    for (uint64_t k = 0; k < kFit; ++k) {
        // Sizes are counted, never read: a byte stands for the largest segment.
        ByteBuffer segment{static_cast<uint8_t*>(std::malloc(1)), HLS_SEGMENT_MAX_BYTES};
        ASSERT_TRUE(segment_ring_put(ring.get(), &segment));
    }
    bool waited = false;
    EXPECT_EQ(segment_ring_wait_room(ring.get(), 0, &waited), 0u);  // the budget is spent
    std::thread taker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ByteBuffer segment;
        EXPECT_EQ(segment_ring_take(ring.get(), &segment), SegmentTake::segment);
        byte_buffer_free(&segment);
    });
    // Waits for the take, which gives back one segment's worth.
    EXPECT_EQ(segment_ring_wait_room(ring.get(), HLS_SEGMENT_MAX_BYTES, &waited), HLS_SEGMENT_MAX_BYTES);
    taker.join();
}

// 0 counts as 2 s; a stall is three target durations, never under the floor.
TEST(HlsDownloaderLimits, PollPauseAndStallLimitFollowTheTargetDuration) {
    EXPECT_EQ(std::tuple(hls_poll_pause_ms(0), hls_poll_pause_ms(2), hls_poll_pause_ms(3)),
              std::tuple(HLS_FAST_POLL_MS, HLS_FAST_POLL_MS, HLS_SLOW_POLL_MS));
    EXPECT_EQ(std::tuple(hls_stall_limit_ms(0), hls_stall_limit_ms(4), hls_stall_limit_ms(UINT32_MAX)),
              std::tuple(HLS_STALL_FLOOR_MS, 12000u, UINT32_MAX));
}

TEST_F(HlsDownloaderThreads, TearDownCutsAStalledDownloadShort) {
    int before = segment_ring_downloaders_running();
    serve_playlists({playlist_text(0, 2)});
    server.set_reply("/live/seg-0.ts",
                     {.bytes = http_response_text(200, std::string(1000, 'x')), .send_limit = 500, .stall = true});
    SegmentRing* ring = hls_downloader_start(server.url("/live/index.m3u8"), &stop);
    ASSERT_NE(ring, nullptr);
    ASSERT_TRUE(wait_until([&] { return server.request_count("/live/seg-0.ts") > 0; }, 10000));
    segment_ring_teardown(ring);
    EXPECT_EQ(segment_ring_downloaders_running(), before);  // joined, not left to the segment time-out
    server.release_stalls();
}

TEST_F(HlsDownloaderThreads, TearDownThatStopsWaitingLeavesTheRingToTheDownloader) {
    int before = segment_ring_downloaders_running();
    // A playlist that takes a while to arrive.
    server.set_reply("/live/index.m3u8",
                     {.bytes = http_response_text(200, playlist_text(0, 2)), .piece_size = 16, .piece_delay_ms = 40});
    SegmentRing* ring = hls_downloader_start(server.url("/live/index.m3u8"), &stop);
    ASSERT_NE(ring, nullptr);
    segment_ring_teardown(ring, 0);  // give up at once: the thread frees the ring
    EXPECT_TRUE(wait_until([&] { return segment_ring_downloaders_running() == before; }, 10000));
}

// After a first playlist of 2, one listing 12 more: the first batch of six
// hangs on its first attempt, so all six requests can only be seen together
// when they run at once, and seg-8 not before they end. Released, they fail
// and are retried at the next poll; all fourteen arrive in order.
TEST_F(HlsDownloaderThreads, SixSegmentsAreFetchedAtOnceAndDeliveredInOrder) {
    serve_playlists({playlist_text(0, 2), playlist_text(0, 14, 2, true)});
    server.on_other([](const ScriptedRequest& request, int index) {
        ScriptedReply reply = http_reply(200, "segment " + request.path);
        const size_t at = request.path.find("seg-");
        const int n = at == std::string::npos ? -1 : std::stoi(request.path.substr(at + 4));
        reply.stall = index == 0 && n >= 2 && n <= 7;
        reply.send_limit = reply.stall ? 20 : std::string::npos;
        return reply;
    });
    SegmentRingPtr ring = start();
    auto requested = [&](int n) { return server.request_count("/live/seg-" + std::to_string(n) + ".ts"); };
    ASSERT_TRUE(wait_until(
        [&] { return requested(2) + requested(3) + requested(4) + requested(5) + requested(6) + requested(7) == 6; },
        10000));
    EXPECT_EQ(requested(8), 0);
    server.release_stalls();
    SegmentTake end;
    std::vector<int64_t> want(14);
    std::iota(want.begin(), want.end(), 0);
    EXPECT_EQ(take_all(ring.get(), &end), want);
    EXPECT_EQ(end, SegmentTake::ended);
}

// Relative Location and segment names resolve against the moved folder.
TEST_F(HlsHostileOriginThreads, RedirectedStreamIsFollowedToItsEnd) {
    HostileStream moved(&origin, "/archive/moved");
    for (int n = 0; n < 2; ++n) moved.append("s" + std::to_string(n) + ".ts", made(n));
    moved.end();
    origin.redirect("/live/index.m3u8", "../archive/moved/index.m3u8");
    SegmentRingPtr ring(hls_downloader_start(origin.url("/live/index.m3u8"), &stop));
    ASSERT_TRUE(ring);
    Taken taken = take_bodies(ring.get());
    EXPECT_EQ(taken.end, SegmentTake::ended) << taken.error;
    EXPECT_TRUE(taken.segments == std::vector({made(0).bytes, made(1).bytes}));  // not printed: megabytes
}

TEST_F(HlsHostileOriginThreads, StalledSourcesFailWithTheirReasonAfterTheStallLimit) {
    // Sources at 1 s target duration: one that stops growing, three that grow
    // while their segments answer 403, nothing or a length past the bound
    // from 2.5 s on, and one whose playlist trickles in a byte every 2 s.
    const std::string kStalled = "HLS source stalled: no new segment for ";
    const ScriptedReply too_large = {.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\n", .stall = true};
    const ScriptedReply trickle = {
        .bytes = http_response_text(200, "#EXTM3U\n"), .piece_size = 1, .piece_delay_ms = 2000};
    // Folder, what answers under it (from 2.5 s on, the playlist at once), the reason given.
    const std::tuple<std::string, std::string, std::optional<ScriptedReply>, std::string> sources[] = {
        {"/still", "", std::nullopt, ""},
        {"/expiring", "/s", http_reply(403, "refused"), " (segment request failed with HTTP status 403)"},
        {"/hanging", "/s", ScriptedReply{.bytes = "", .stall = true}, " (HLS segment timed out after 10 s)"},
        {"/huge", "/s", too_large, " (HLS segment too large (over 64 MiB))"},
        {"/trickling", "/index", trickle, " (HLS playlist timed out after 10 s)"}};
    std::vector<std::unique_ptr<HostileStream>> streams;
    for (const auto& [folder, under, reply, reason] : sources) {
        streams.push_back(std::make_unique<HostileStream>(&origin, folder, 1));
        for (int n = 0; n < 3; ++n) streams.back()->append("s" + std::to_string(n) + ".ts", made(n));
        if (reply) origin.answer_from(folder + under, *reply, under == "/s" ? 2500 : 0);
    }
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        for (int n = 3; feeding && n < 120; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (size_t k = 1; k < streams.size(); ++k) streams[k]->append("s" + std::to_string(n) + ".ts", made(n));
        }
    });
    Taken taken[std::size(sources)];
    std::vector<std::thread> takers;
    for (size_t k = 0; k < std::size(sources); ++k) {
        takers.emplace_back([&, k] {
            SegmentRingPtr ring(hls_downloader_start(streams[k]->url(), &stop));
            if (ring) taken[k] = take_bodies(ring.get());
        });
    }
    for (std::thread& taker : takers) taker.join();
    feeding = false;
    feeder.join();

    for (size_t k = 0; k < std::size(sources); ++k) {
        const auto& [folder, under, reply, reason] = sources[k];
        const std::string& error = taken[k].error;
        SCOPED_TRACE(folder + ": " + error);
        EXPECT_EQ(taken[k].end, SegmentTake::failed);
        EXPECT_GE(taken[k].segments.size(), under == "/index" ? 0u : 2u);  // a new downloader starts with the last two
        ASSERT_TRUE(error.starts_with(kStalled));
        EXPECT_GE(std::atoi(error.c_str() + kStalled.size()) * 1000, static_cast<int>(hls_stall_limit_ms(1)));
        EXPECT_TRUE(error.ends_with(" s" + reason));
    }
}
