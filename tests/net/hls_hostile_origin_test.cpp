// The downloader against an origin that misbehaves as live origins do over
// days: a relative redirect to another folder, a playlist that stops
// growing, segments that expire (403) or hang. (A stop reaching a connect
// that never completes is the event's and the HTTP client's test.)
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "net/hls_downloader.h"
#include "net/segment_ring.h"
#include "platform/clock.h"
#include "support/hostile_origin.h"
#include "support/temp_dir.h"

namespace {

struct Taken {
    std::vector<std::string> segments;
    SegmentTake end = SegmentTake::segment;
    std::string error;
};

// Up to `count` segments, or all until the ring gives no more (bounded far
// beyond any stall limit used here).
Taken take(SegmentRing* ring, size_t count = SIZE_MAX) {
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

// Relative Location and segment names resolve against the moved folder.
// (Numbering that restarts is a row of the downloader's own table.)
TEST_F(HlsHostileOriginThreads, RedirectedStreamIsFollowedToItsEnd) {
    HostileStream moved(&origin, "/archive/moved");
    for (int n = 0; n < 2; ++n) moved.append("s" + std::to_string(n) + ".ts", made(n));
    moved.end();
    origin.redirect("/live/index.m3u8", "../archive/moved/index.m3u8");
    SegmentRingPtr ring(hls_downloader_start(origin.url("/live/index.m3u8"), &stop));
    ASSERT_TRUE(ring);
    Taken taken = take(ring.get());
    EXPECT_EQ(taken.end, SegmentTake::ended) << taken.error;
    EXPECT_TRUE(taken.segments == std::vector({made(0).bytes, made(1).bytes}));  // not printed: megabytes
}

TEST_F(HlsHostileOriginThreads, StalledSourcesFailWithTheirReasonAfterTheStallLimit) {
    // Three sources at 1 s target duration: one that stops growing, two that
    // grow while their segments answer 403 or nothing from 2.5 s on.
    const std::string kStalled = "HLS source stalled: no new segment for ";
    // Folder, segment status (-1: keeps answering, 0: hangs), the reason given.
    const std::tuple<std::string, int, std::string> sources[] = {
        {"/still", -1, ""},
        {"/expiring", 403, " (segment request failed with HTTP status 403)"},
        {"/hanging", 0, " (invalid HTTP response)"}};
    std::vector<std::unique_ptr<HostileStream>> streams;
    for (const auto& [folder, status, reason] : sources) {
        streams.push_back(std::make_unique<HostileStream>(&origin, folder, 1));
        for (int n = 0; n < 3; ++n) streams.back()->append("s" + std::to_string(n) + ".ts", made(n));
        if (status >= 0) origin.fail_from(folder + "/s", status, 2500);
    }
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        for (int n = 3; feeding && n < 120; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (size_t k = 1; k < streams.size(); ++k) streams[k]->append("s" + std::to_string(n) + ".ts", made(n));
        }
    });
    Taken taken[3];
    std::vector<std::thread> takers;
    for (size_t k = 0; k < 3; ++k) {
        takers.emplace_back([&, k] {
            SegmentRingPtr ring(hls_downloader_start(streams[k]->url(), &stop));
            if (ring) taken[k] = take(ring.get());
        });
    }
    for (std::thread& taker : takers) taker.join();
    feeding = false;
    feeder.join();

    for (size_t k = 0; k < 3; ++k) {
        const auto& [folder, status, reason] = sources[k];
        const std::string& error = taken[k].error;
        SCOPED_TRACE(folder + ": " + error);
        EXPECT_EQ(taken[k].end, SegmentTake::failed);
        EXPECT_GE(taken[k].segments.size(), 2u);  // a new downloader starts with the last two
        ASSERT_TRUE(error.starts_with(kStalled));
        EXPECT_GE(std::atoi(error.c_str() + kStalled.size()) * 1000, static_cast<int>(hls_stall_limit_ms(1)));
        EXPECT_TRUE(error.ends_with(" s" + reason));
    }
}

}  // namespace
