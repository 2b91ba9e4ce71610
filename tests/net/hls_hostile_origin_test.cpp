// The downloader against an origin that misbehaves the way live origins do
// over days: a redirect to another folder with relative segment names, a
// playlist that stops growing, segments that start answering 403, and an
// origin that no longer accepts connections. Segments are made by ffmpeg.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "net/hls_downloader.h"
#include "net/segment_ring.h"
#include "platform/clock.h"
#include "support/hostile_origin.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

constexpr uint64_t kTakeBoundMs = 60000;  // far beyond any stall limit used here

class HlsHostileOriginThreads : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static TempDir folder;
        made_ = new std::vector<MadeSegment>;
        ASSERT_TRUE(make_hls_segments(folder.path(), 6, made_));
    }
    static void TearDownTestSuite() {
        delete made_;
        made_ = nullptr;
    }

    void SetUp() override { ASSERT_TRUE(origin.start()); }

    static const MadeSegment& made(size_t n) { return (*made_)[n % made_->size()]; }

    struct Taken {
        std::vector<std::string> segments;
        SegmentTake end = SegmentTake::segment;
        std::string error;
    };
    // Every segment until the ring gives no more (bounded).
    static Taken take_all(SegmentRing* ring) {
        Taken taken;
        uint64_t deadline = tick_ms() + kTakeBoundMs;
        while (taken.end == SegmentTake::segment && tick_ms() < deadline) {
            ByteBuffer segment;
            taken.end = segment_ring_take(ring, &segment);
            if (taken.end == SegmentTake::segment)
                taken.segments.emplace_back(byte_buffer_text(segment));
            byte_buffer_free(&segment);
        }
        char error[SEGMENT_RING_ERROR_SIZE];
        segment_ring_error(ring, error);
        taken.error = error;
        return taken;
    }

    static std::vector<MadeSegment>* made_;
    HostileOrigin origin;
    Event stop;
};

std::vector<MadeSegment>* HlsHostileOriginThreads::made_ = nullptr;

}  // namespace

TEST_F(HlsHostileOriginThreads, RedirectedStreamThatRestartsIsFollowedToItsEnd) {
    // The configured playlist redirects (relative Location) to another
    // folder whose segments are named relative to it. There the origin
    // restarts: numbering drops from 5001 to 0, and the new list is finished.
    HostileStream moved(&origin, "/archive/moved");
    moved.restart_numbering(5000);
    for (int n = 0; n < 2; ++n) moved.append("old" + std::to_string(n) + ".ts", made(n));
    origin.redirect("/live/index.m3u8", "../archive/moved/index.m3u8");
    SegmentRingPtr ring(hls_downloader_start(origin.url("/live/index.m3u8"), &stop));
    ASSERT_TRUE(ring);
    for (int n = 0; n < 2; ++n) {
        ByteBuffer segment;
        ASSERT_EQ(segment_ring_take(ring.get(), &segment), SegmentTake::segment);
        EXPECT_TRUE(byte_buffer_text(segment) == made(n).bytes) << n;
        byte_buffer_free(&segment);
    }
    moved.restart_numbering(0);
    for (int n = 0; n < 3; ++n) moved.append("new" + std::to_string(n) + ".ts", made(n + 1));
    moved.end();
    Taken taken = take_all(ring.get());
    EXPECT_EQ(taken.end, SegmentTake::ended) << taken.error;
    ASSERT_EQ(taken.segments.size(), 3u);
    for (size_t n = 0; n < 3; ++n) EXPECT_TRUE(taken.segments[n] == made(n + 1).bytes) << n;
    EXPECT_EQ(origin.server().request_count("/archive/moved/new2.ts"), 1);
}

TEST_F(HlsHostileOriginThreads, StalledSourcesFailWithTheirReasonAfterTheStallLimit) {
    // Three live sources at once (1 s target duration): one whose playlist
    // stops growing after its first listing, and two that keep growing while
    // their segments, after the first seconds, answer 403 or nothing at all.
    const std::string kStalled = "HLS source stalled: no new segment for ";
    struct Source {
        std::string folder;
        int status;          // from 2.5 s on, for new segments: 0 hangs, -1 keeps answering
        std::string reason;  // in brackets after the stall text; "" for none
    };
    const std::vector<Source> sources = {
        {"/still", -1, ""},
        {"/expiring", 403, " (segment request failed with HTTP status 403)"},
        {"/hanging", 0, " (invalid HTTP response)"}};
    std::vector<std::unique_ptr<HostileStream>> streams;
    for (const Source& source : sources) {
        streams.push_back(std::make_unique<HostileStream>(&origin, source.folder, 1));
        for (int n = 0; n < 3; ++n)
            streams.back()->append("s" + std::to_string(n) + ".ts", made(n));
        if (source.status >= 0) origin.fail_from(source.folder + "/s", source.status, 2500);
    }
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        for (int n = 3; feeding && n < 120; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (size_t k = 1; k < streams.size(); ++k)
                streams[k]->append("s" + std::to_string(n) + ".ts", made(n));
        }
    });
    std::vector<Taken> taken(sources.size());
    std::vector<std::thread> takers;
    for (size_t k = 0; k < sources.size(); ++k) {
        takers.emplace_back([&, k] {
            SegmentRingPtr ring(hls_downloader_start(streams[k]->url(), &stop));
            if (ring) taken[k] = take_all(ring.get());
        });
    }
    for (std::thread& taker : takers) taker.join();
    feeding = false;
    feeder.join();

    for (size_t k = 0; k < sources.size(); ++k) {
        SCOPED_TRACE(sources[k].folder);
        EXPECT_EQ(taken[k].end, SegmentTake::failed);
        EXPECT_GE(taken[k].segments.size(), 2u);  // a new downloader starts with the last two
        const std::string& error = taken[k].error;
        ASSERT_TRUE(error.starts_with(kStalled)) << error;
        EXPECT_GE(std::atoi(error.c_str() + kStalled.size()) * 1000,
                  static_cast<int>(hls_stall_limit_ms(1)));
        EXPECT_TRUE(error.ends_with(" s" + sources[k].reason)) << error;
    }
}

TEST_F(HlsHostileOriginThreads, StopAndTearDownReachAConnectThatNeverCompletes) {
    UnansweredPort unanswered;
    ASSERT_TRUE(unanswered.start());
    int before = segment_ring_downloaders_running();
    // The stop event reaches the playlist connect in flight: the downloader
    // ends long before the 45-second playlist time-out.
    SegmentRingPtr stopped(hls_downloader_start(unanswered.url("http", "/index.m3u8"), &stop));
    ASSERT_TRUE(stopped);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.set();
    EXPECT_TRUE(wait_until([&] { return segment_ring_marks(stopped.get()).ended; },
                           HLS_PLAYLIST_TIMEOUT_MS / 3));
    EXPECT_FALSE(segment_ring_marks(stopped.get()).failed);
    stopped.reset();
    // Tear-down alone (no stop event) cancels it too, within its own wait.
    SegmentRing* abandoned = hls_downloader_start(unanswered.url("http", "/index.m3u8"), nullptr);
    ASSERT_NE(abandoned, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    segment_ring_teardown(abandoned);
    EXPECT_EQ(segment_ring_downloaders_running(), before);
}
