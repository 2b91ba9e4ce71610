// The downloader against an origin that misbehaves the way live origins do
// over days: a redirect to another folder with relative segment names, a
// playlist that stops growing, segments that start answering 403, and an
// origin that no longer accepts connections. Segments are made by ffmpeg.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

TEST_F(HlsHostileOriginThreads, StalledPlaylistAndExpiredSegmentsFailWithTheirReason) {
    // Two live sources at once: one whose playlist stops growing after its
    // first listing, one that keeps growing while its segments answer 403
    // after the first seconds. Both fail after the stall limit, each saying why.
    HostileStream still(&origin, "/still", 1);
    HostileStream expiring(&origin, "/expiring", 1);
    for (int n = 0; n < 3; ++n) {
        still.append("s" + std::to_string(n) + ".ts", made(n));
        expiring.append("e" + std::to_string(n) + ".ts", made(n));
    }
    origin.fail_from("/expiring/e", 403, 2500);
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        for (int n = 3; feeding && n < 120; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            expiring.append("e" + std::to_string(n) + ".ts", made(n));
        }
    });
    SegmentRingPtr still_ring(hls_downloader_start(still.url(), &stop));
    SegmentRingPtr expiring_ring(hls_downloader_start(expiring.url(), &stop));
    ASSERT_TRUE(still_ring && expiring_ring);
    Taken taken_still;
    std::thread still_taker([&] { taken_still = take_all(still_ring.get()); });
    Taken taken_expiring = take_all(expiring_ring.get());
    still_taker.join();
    feeding = false;
    feeder.join();

    EXPECT_EQ(taken_still.end, SegmentTake::failed);
    EXPECT_EQ(taken_still.segments.size(), 2u);  // a new downloader starts with the last two
    EXPECT_TRUE(taken_still.error.starts_with("HLS source stalled: no new segment for "))
        << taken_still.error;
    int seconds = std::atoi(taken_still.error.c_str() +
                            std::string("HLS source stalled: no new segment for ").size());
    EXPECT_GE(seconds * 1000, static_cast<int>(hls_stall_limit_ms(1)));
    EXPECT_TRUE(taken_still.error.ends_with(" s"));

    EXPECT_EQ(taken_expiring.end, SegmentTake::failed);
    EXPECT_GE(taken_expiring.segments.size(), 2u);
    EXPECT_EQ(taken_expiring.error, "segment request failed with HTTP status 403");
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
