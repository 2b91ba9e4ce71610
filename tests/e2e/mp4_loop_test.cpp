// MP4 Loop through the real veltrona-cli: a 4-second clip published to
// nginx-rtmp pass after pass, judged from nginx's recording with ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/child.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t STREAMED_SECONDS = 14;  // three whole passes and a bit of the fourth
constexpr size_t FONT_SIZE_FIELD = 17, TEXT_COLOR_FIELD = 28,
                 BACKGROUND_COLOR_FIELD = 29;         // of config.tsv
const std::string BLUE = std::to_string(0x00FF0000);  // 0x00BBGGRR

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
    std::string stream(const std::vector<std::string>& extra_options,
                       bool (*edit)(const std::string& data_dir, uint32_t id), double* streamed) {
        std::vector<std::string> options = {
            "--type",   "mp4", "--name",   "Clip loop",
            "--source", clip,  "--output", nginx.rtmp_url("mp4key")};
        options.insert(options.end(), extra_options.begin(), extra_options.end());
        uint32_t id = cli_add(data_dir, options);
        EXPECT_NE(id, 0u);
        EXPECT_TRUE(!edit || edit(data_dir, id));
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

// What both modes must show in nginx's recording: H.264 and AAC, as long
// as the run, each stream's DTS never going back, each pass opening 1 ms
// above the highest timestamp before it, audio and video in step.
void check_loop(const std::string& flv, double streamed, const std::string& clip) {
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

// Pixels of the bottom `rows` rows of the first `frames` frames (320x240)
// of a file that are within 12 of `yuv` in each component.
size_t count_colour(const std::string& path, const std::string& raw, int frames, int rows,
                    std::array<int, 3> yuv) {
    constexpr int width = 320, height = 240;
    if (run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", path, "-frames:v",
                     std::to_string(frames), "-f", "rawvideo", "-pix_fmt", "yuv420p", raw},
                    nullptr, 60) != 0) {
        return 0;
    }
    const std::string bytes = read_file(raw);
    const size_t frame = width * height * 3 / 2;
    size_t count = 0;
    for (size_t base = 0; base + frame <= bytes.size(); base += frame) {
        for (int y = height - rows; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                size_t chroma = size_t(y / 2) * (width / 2) + size_t(x / 2);
                int got[3] = {uint8_t(bytes[base + size_t(y) * width + size_t(x)]),
                              uint8_t(bytes[base + width * height + chroma]),
                              uint8_t(bytes[base + width * height * 5 / 4 + chroma])};
                count += std::abs(got[0] - yuv[0]) <= 12 && std::abs(got[1] - yuv[1]) <= 12 &&
                         std::abs(got[2] - yuv[2]) <= 12;
            }
        }
    }
    return count;
}

TEST_F(Mp4LoopE2eTest, PacketCopyLoopsOnOneTimelineInStep) {
    double streamed = 0;
    std::string flv = stream({}, nullptr, &streamed);
    check_loop(flv, streamed, clip);
}

TEST_F(Mp4LoopE2eTest, OverlayLoopPaintsTheTickerOnTheSameTimeline) {
    ASSERT_EQ(run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                           "color=c=red:s=100x50", "-frames:v", "1", dir.file("logo.png")}),
              0);
    double streamed = 0;
    // A plain blue band (text and background alike) along the bottom.
    std::string flv = stream(
        {"--image", dir.file("logo.png"), "--text", "Ticker over the loop", "--encoder",
         "Software H.264"},
        [](const std::string& data, uint32_t id) {
            return config_set_field(data, id, FONT_SIZE_FIELD, "24") &&
                   config_set_field(data, id, TEXT_COLOR_FIELD, BLUE) &&
                   config_set_field(data, id, BACKGROUND_COLOR_FIELD, BLUE);
        },
        &streamed);
    check_loop(flv, streamed, clip);
    const std::array<int, 3> blue = {28, 255, 107};
    EXPECT_LT(count_colour(clip, dir.file("clip.yuv"), 100, 48, blue),
              1000u);  // the test picture's own
    EXPECT_GT(count_colour(flv, dir.file("flv.yuv"), 100, 48, blue), 100u * 200);
}

}  // namespace
