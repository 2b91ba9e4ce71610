// The HLS capture engines against real peers: a live origin whose clock
// jumps, nginx-rtmp receiving the restream and ffprobe judging what arrived;
// a recording disk that fills up. (Failure texts are in engine_failures_test;
// restreaming and recording a plain live source, an expired URL and prompt
// stops are judged end to end, in tests/e2e.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>

#include "engines/engines.h"
#include "platform/files/folders.h"
#include "platform/text/error_text.h"
#include "platform/time/clock.h"
#include "support/child.h"
#include "support/engine_loop_run.h"
#include "support/hostile_origin.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace {

using Error = std::array<char, ENGINE_ERROR_SIZE>;

// Rising, and never by 2 s or more at once.
bool steady(const std::vector<double>& v) {
    return std::ranges::adjacent_find(v, [](double a, double b) { return b < a || b - a >= 2.0; }) == v.end();
}

class HlsEnginesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(nginx.start(dir.path(), {.rtmp = true, .http = true})) << read_file(nginx.error_log);
    }
    TempDir dir;
    NginxServer nginx;
};

TEST_F(HlsEnginesTest, SourceClockJumpsBecomeOneRisingPacedTimeline) {
    // Forward two hours without a mark; back to 5 s with a mark and a new
    // picture size (new parameter sets); at 20 h, then down to 1 s without a
    // mark (a drop, not a 33-bit wrap).
    const std::tuple<double, const char*, bool> parts[] = {{10, "320x240", false},    {12, "320x240", false},
                                                           {7200, "320x240", false},  {5, "160x120", true},
                                                           {72000, "160x120", false}, {1, "160x120", false}};
    HostileOrigin origin;
    ASSERT_TRUE(origin.start());
    HostileStream live(&origin, "/live");
    std::vector<MadeSegment> made;
    for (const auto& [clock, size, mark] : parts) {
        const std::string path = dir.file("seg" + std::to_string(made.size()) + ".ts");
        ASSERT_TRUE(make_clip(path, {.size = size, .output_args = {"-output_ts_offset", std::to_string(clock)}}));
        made.push_back({path, 2.0, read_file(path)});
    }
    // Two segments at the start, then one every 1.5 s, then the end.
    std::thread grower([&] {
        for (size_t i = 0; i < made.size(); ++i) {
            if (i >= 2) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            live.append("seg" + std::to_string(i) + ".ts", made[i], std::get<2>(parts[i]));
        }
        live.end();
    });
    Error error{};
    Event stop;
    uint64_t began = tick_ms();
    EngineResult result =
        hls_to_rtmp_engine({live.url(), nginx.rtmp_url("jumps"), dir.file("rec.ts")}, {.stop_event = &stop}, error);
    double took = static_cast<double>(tick_ms() - began) / 1000.0;
    grower.join();
    EXPECT_EQ(result, EngineResult::done) << error_view(error);
    nginx.stop();
    std::string recording = nginx.recording("jumps");
    ASSERT_FALSE(recording.empty());
    std::vector<double> video = probe_dts(recording, 'v'), audio = probe_dts(recording, 'a');
    ASSERT_GT(video.size(), 200u) << "six 2 s segments at 25 fps";
    EXPECT_TRUE(steady(video));
    EXPECT_TRUE(steady(audio));
    EXPECT_NEAR(video.back(), audio.back(), 0.5) << "audio and video in step";
    EXPECT_NEAR(video.back() - video.front(), 12.0, 1.0);
    EXPECT_LE(video.back() - video.front(), took + 0.5) << "paced: never ahead of the wall clock";
    EXPECT_THAT(probe_lines(recording, "v:0", "frame=width"),
                ::testing::AllOf(::testing::Contains("320"), ::testing::Contains("160")))
        << "the new SPS reached the server";
}

TEST_F(HlsEnginesTest, AFullRecordingDiskStopsTheRecordingNotTheStream) {
    std::vector<MadeSegment> made;  // a VOD playlist
    ASSERT_TRUE(make_hls_segments(nginx.www_dir, 6, &made));
    ASSERT_GE(made.size(), 2u);
    const std::string disk = dir.file("small");  // a 4 MiB tmpfs
    if (!ensure_directory(disk) || run_command({"mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", disk}) != 0) {
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    }
    // The engine joins at the last two segments: room for about one and a half.
    const size_t first = made[made.size() - 2].bytes.size(), second = made.back().bytes.size();
    write_file(disk + "/filler", std::string((4u << 20) - first - second / 2 - 8192, 'x'));
    TextLog notices;
    Error error{};
    Event stop;
    EngineResult result =
        hls_to_rtmp_engine({nginx.http_url("live.m3u8"), nginx.rtmp_url("full"), disk + "/rec.ts"},
                           {.stop_event = &stop, .hooks = {.notice = TextLog::record, .context = &notices}}, error);
    const size_t kept = read_file(disk + "/rec.ts").size();
    (void)run_command({"umount", disk});
    EXPECT_EQ(result, EngineResult::done) << error_view(error);
    ASSERT_EQ(notices.texts.size(), 1u);
    EXPECT_EQ(notices.texts[0], "Recording stopped, stream goes on: write failed (No space left on device)");
    EXPECT_EQ(kept, first) << "cut back to its last whole segment";
    nginx.stop();
    EXPECT_NEAR(probe_duration(nginx.recording("full")), 4.0, 0.5) << "both segments were published";
}

}  // namespace
