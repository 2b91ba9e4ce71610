// MP4 Loop through the real veltrona-cli: a 4-second clip published to
// nginx-rtmp pass after pass, judged from nginx's recording with ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t STREAMED_SECONDS = 14;  // three whole passes and a bit of the fourth

class Mp4LoopE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NginxOptions options;
        options.rtmp = true;
        ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
        data_dir = dir.file("data");
        clip = dir.file("clip.mp4");
        ASSERT_TRUE(make_test_mp4(clip, Mp4Fixture{.seconds = 4.0}));
    }

    // Runs the workflow for STREAMED_SECONDS; nginx's recording and the
    // seconds it streamed.
    std::string stream(const std::vector<std::string>& extra_options, double* streamed) {
        std::vector<std::string> options = {
            "--type",   "mp4", "--name",   "Clip loop",
            "--source", clip,  "--output", nginx.rtmp_url("mp4key")};
        options.insert(options.end(), extra_options.begin(), extra_options.end());
        uint32_t id = cli_add(data_dir, options);
        EXPECT_NE(id, 0u);
        CliProcess cli;
        EXPECT_TRUE(cli.start(cli_executable(), data_dir,
                              {"--seconds", std::to_string(STREAMED_SECONDS), std::to_string(id)}));
        EXPECT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();
        uint64_t since = tick_ms();
        EXPECT_EQ(cli.wait_exit((STREAMED_SECONDS + 20) * 1000), 0) << cli.output();
        *streamed = static_cast<double>(tick_ms() - since) / 1000.0;
        nginx.stop();
        std::vector<std::string> states = cli.states();
        EXPECT_TRUE(in_order(states, {"STREAMING", "STOPPED"})) << cli.output();
        EXPECT_EQ(std::count(states.begin(), states.end(), "RECONNECTING"), 0) << cli.output();
        return nginx.recording("mp4key");
    }

    TempDir dir;
    NginxServer nginx;
    std::string data_dir, clip;
};

// Where each pass begins in a stream's DTS list, given its packets per pass.
std::vector<double> pass_starts(const std::vector<double>& dts, size_t per_pass) {
    std::vector<double> starts;
    for (size_t i = 0; per_pass > 0 && i < dts.size(); i += per_pass) starts.push_back(dts[i]);
    return starts;
}

TEST_F(Mp4LoopE2eTest, PacketCopyLoopsOnOneTimelineInStep) {
    double streamed = 0;
    std::string flv = stream({}, &streamed);
    ASSERT_FALSE(flv.empty());
    // The clip's audio starts one priming frame before its video, so nginx meets the audio first.
    EXPECT_EQ(probe_codecs(flv), "aac,h264");
    EXPECT_NEAR(probe_duration(flv), streamed, 1.5) << "streamed for " << streamed << " s";

    std::vector<double> video = probe_dts(flv, 'v'), audio = probe_dts(flv, 'a');
    EXPECT_TRUE(never_goes_back(video));
    EXPECT_TRUE(never_goes_back(audio));
    const size_t video_per_pass = probe_dts(clip, 'v').size(),
                 audio_per_pass = probe_dts(clip, 'a').size();
    std::vector<double> video_starts = pass_starts(video, video_per_pass);
    std::vector<double> audio_starts = pass_starts(audio, audio_per_pass);
    ASSERT_GE(std::min(video_starts.size(), audio_starts.size()), 4u)
        << "fewer than three whole passes";

    for (size_t pass = 1; pass < 4; ++pass) {
        // The highest timestamp of the pass before, over both kinds.
        double highest =
            std::max(video[pass * video_per_pass - 1], audio[pass * audio_per_pass - 1]);
        EXPECT_NEAR(std::min(video_starts[pass], audio_starts[pass]), highest + 0.001, 0.0005)
            << "pass " << pass;
        // Audio and video keep the distance they had in the first pass.
        EXPECT_NEAR(video_starts[pass] - audio_starts[pass], video_starts[0] - audio_starts[0],
                    0.002)
            << "pass " << pass;
    }
}

}  // namespace
