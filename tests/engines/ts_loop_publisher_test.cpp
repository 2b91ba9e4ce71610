// The TS loop publisher: one continuous timeline across passes (seen by a
// scripted server, message by message, and by nginx past the 24- and
// 32-bit timestamp boundaries), a damaged packet, its failure texts. (A
// prompt stop is judged end to end, in tests/e2e.)
#include "engines/ts_loop_publisher.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "engines/engines.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "support/engine_loop_run.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/text_log.h"

namespace {

using Error = std::array<char, ENGINE_ERROR_SIZE>;

using LoopRun = EngineLoopRun<TsLoopOptions, ts_loop_run>;
constexpr auto accept_and_record = fake_rtmp_accept_and_record;

class TsLoopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { made_ = make_clip(one_second(), {.seconds = 1.0}); }
    void SetUp() override { ASSERT_TRUE(made_) << "ffmpeg could not make the fixture"; }
    static std::string one_second() {
        static TempDir fixtures;
        return fixtures.file("one.ts");
    }
    static inline bool made_ = false;
};

TEST_F(TsLoopTest, NginxKeepsRecordingAcrossTheTimestampBoundaries) {
    // The 24-bit one (extended timestamps begin) and the 32-bit one (the
    // wire's timestamps wrap after 49.7 days, while our clock goes on).
    for (int64_t boundary : {int64_t{0xFFFFFF}, int64_t{1} << 32}) {
        TempDir dir;
        NginxServer nginx;
        NginxOptions options;
        options.rtmp = true;
        ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
        LoopRun run;
        run.options.recording_path = one_second();
        run.options.output_url = nginx.rtmp_url("boundary");
        run.options.initial_timestamp = boundary - 1500;
        run.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(4000));
        run.stop();
        nginx.stop();
        EXPECT_EQ(run.result, 1) << error_view(run.error);

        std::string recording = nginx.recording("boundary");
        ASSERT_FALSE(recording.empty()) << boundary;
        EXPECT_EQ(probe_codecs(recording), "h264,aac");
        std::vector<double> video = probe_dts(recording, 'v'), audio = probe_dts(recording, 'a');
        EXPECT_TRUE(never_goes_back(video)) << boundary;
        EXPECT_TRUE(never_goes_back(audio)) << boundary;
        ASSERT_FALSE(video.empty());
        EXPECT_GT(video.back(), 2.5) << boundary;  // well past the boundary, which came 1.5 s in
        EXPECT_LT(video.back(), 4.5) << boundary << ": paced, not sent as fast as the wire allows";
    }
}

TEST_F(TsLoopTest, FailuresEndTheRunWithTheirText) {
    TempDir dir;
    std::string null_packets;
    for (int i = 0; i < 100; ++i) null_packets += std::string("\x47\x1F\xFF\x10", 4) + std::string(184, '\xFF');
    write_file(dir.file("empty-program.ts"), null_packets);
    // An empty URL: a scripted server that accepts the publish. The refused
    // connect's text comes from the publisher, without the key.
    const std::tuple<std::string, std::string, const char*> cases[] = {
        {dir.file("missing.ts"), "", "recording cannot be opened for playback"},
        {dir.file("empty-program.ts"), "", "recording holds no playable audio or video"},
        {one_second(), "rtmp://host/app/\xFF", "RTMP URL conversion failed"},
        {one_second(), "rtmp://127.0.0.1:1/live/secret", nullptr}};
    for (const auto& [path, url, message] : cases) {
        FakeRtmpServer server;
        ASSERT_TRUE(!url.empty() || server.start(accept_and_record, 15000));
        Error error{};
        Event stop;
        EXPECT_EQ(
            ts_loop_publisher(path, url.empty() ? server.url() : url, &stop, nullptr, nullptr, EngineHooks{}, error),
            0);
        if (message) {
            EXPECT_EQ(error_view(error), message);
        } else {
            EXPECT_FALSE(error_is_empty(error));
            EXPECT_EQ(std::string(error_view(error)).find("secret"), std::string::npos);
        }
    }
}

// Each pass opens one millisecond above the pass before, and a damaged
// packet is skipped on every pass, not where every pass ends.
TEST_F(TsLoopTest, PassesFollowOneAnotherAndADamagedPacketIsSkippedEachTime) {
    TempDir dir;
    std::string ts = read_file(one_second());
    ts[(ts.size() / 188 / 2) * 188] = 0x00;  // the sync byte of a packet half-way in
    write_file(dir.file("damaged.ts"), ts);
    TextLog notices;
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(accept_and_record, 15000));
    LoopRun run;
    run.options.recording_path = dir.file("damaged.ts");
    run.options.output_url = server.url();
    run.options.hooks.notice = TextLog::record;
    run.options.hooks.context = &notices;
    run.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(3300));
    run.stop();
    server.join();
    EXPECT_EQ(run.result, 1) << error_view(run.error);
    std::vector<size_t> frames_per_pass;  // video frames after each pass's sequence header
    for (const FakeRtmpMessage& m : server.peer.messages) {
        if (m.type_id != 9) continue;
        if (is_sequence_header(m)) {
            frames_per_pass.push_back(0);
        } else if (!frames_per_pass.empty()) {
            ++frames_per_pass.back();
        }
    }
    const size_t passes = check_loop_passes(server.peer.messages);
    ASSERT_GE(passes, 3u);
    ASSERT_EQ(frames_per_pass.size(), passes);
    EXPECT_GE(frames_per_pass[0], 24u) << "the half after the damage is played too";
    EXPECT_EQ(frames_per_pass[1], frames_per_pass[0]);
    std::lock_guard guard(notices.lock);
    ASSERT_GE(notices.texts.size(), 2u) << "once per finished pass";
    EXPECT_EQ(notices.texts[0], "MPEG-TS damaged: skipped 188 bytes to the next packet");
}

}  // namespace
