// The TS loop publisher: one continuous timeline across passes (seen by a
// scripted server, message by message, and by nginx past the 24- and
// 32-bit timestamp boundaries) and a damaged packet. (Its failure texts are
// in engine_failures_test; a prompt stop is judged end to end, in tests/e2e.)
#include <gtest/gtest.h>

#include <algorithm>

#include "engines/engines.h"
#include "platform/text/error_text.h"
#include "support/engine_loop_run.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace {

// Loops `path` to `url` for `ms`, then stops.
void loop(EngineLoopRun<TsLoopOptions, ts_loop_publisher>& run, const std::string& path, const std::string& url,
          int ms) {
    run.options.recording_path = path, run.options.output_url = url;
    run.run_for(ms);
    EXPECT_EQ(run.result, EngineResult::stopped) << error_view(run.error);
}

// The 24-bit boundary (extended timestamps begin) and the 32-bit one (the
// wire's timestamps wrap after 49.7 days, while our clock goes on).
TEST(TsLoopTest, NginxKeepsRecordingAcrossTheTimestampBoundaries) {
    TempDir clip;
    ASSERT_TRUE(make_clip(clip.file("one.ts"), {.seconds = 1.0}));
    for (int64_t boundary : {int64_t{0xFFFFFF}, int64_t{1} << 32}) {
        SCOPED_TRACE(boundary);
        TempDir dir;
        NginxServer nginx;
        ASSERT_TRUE(nginx.start(dir.path(), {.rtmp = true})) << read_file(nginx.error_log);
        EngineLoopRun<TsLoopOptions, ts_loop_publisher> run;
        run.options.initial_timestamp = boundary - 1500;
        loop(run, clip.file("one.ts"), nginx.rtmp_url("boundary"), 4000);
        nginx.stop();
        const std::string recording = nginx.recording("boundary");
        ASSERT_FALSE(recording.empty());
        EXPECT_EQ(probe_codecs(recording), "h264,aac");
        const std::vector<double> video = probe_dts(recording, 'v');
        EXPECT_TRUE(std::ranges::is_sorted(video));
        EXPECT_TRUE(std::ranges::is_sorted(probe_dts(recording, 'a')));
        ASSERT_FALSE(video.empty());
        EXPECT_GT(video.back(), 2.5);  // well past the boundary, which came 1.5 s in
        EXPECT_LT(video.back(), 4.5) << "paced, not sent as fast as the wire allows";
    }
}

// Each pass opens one millisecond above the pass before, and a damaged
// packet is skipped on every pass, not where every pass ends.
TEST(TsLoopTest, PassesFollowOneAnotherAndADamagedPacketIsSkippedEachTime) {
    TempDir dir;
    ASSERT_TRUE(make_clip(dir.file("one.ts"), {.seconds = 1.0}));
    std::string ts = read_file(dir.file("one.ts"));
    ts[(ts.size() / 188 / 2) * 188] = 0x00;  // the sync byte of a packet half-way in
    write_file(dir.file("damaged.ts"), ts);
    TextLog notices;
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 15000));
    EngineLoopRun<TsLoopOptions, ts_loop_publisher> run;
    run.run.hooks = {.notice = TextLog::record, .context = &notices};
    loop(run, dir.file("damaged.ts"), server.url(), 3300);
    server.join();
    const std::vector<size_t> frames_per_pass = check_loop_passes(server.peer.messages);
    ASSERT_GE(frames_per_pass.size(), 3u);
    EXPECT_GE(frames_per_pass[0], 24u) << "the half after the damage is played too";
    EXPECT_EQ(frames_per_pass[1], frames_per_pass[0]);
    std::lock_guard guard(notices.lock);
    ASSERT_GE(notices.texts.size(), 2u) << "once per finished pass";
    EXPECT_EQ(notices.texts[0], "MPEG-TS damaged: skipped 188 bytes to the next packet");
}

}  // namespace
