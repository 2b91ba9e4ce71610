// MP4 Loop through the real veltrona-cli: a 4-second clip published to
// nginx-rtmp pass after pass, judged from nginx's recording with ffprobe.
#include <cmath>

#include "e2e/cli_driver.h"
#include "platform/time/clock.h"
#include "support/media_fixtures.h"

namespace {

constexpr uint32_t STREAMED_SECONDS = 14;  // three whole passes and a bit of the fourth

class Mp4LoopE2eTest : public E2eTest {
  protected:
    void SetUp() override {
        start_nginx({.rtmp = true});
        // B-frames: the decode shift at each seam; 120 kb/s: P-frames of 256 to 511 bytes
        ASSERT_TRUE(make_clip(clip, {.seconds = 4.0, .b_frames = 2, .output_args = {"-b:v", "120k"}}));
    }

    // Runs the workflow for STREAMED_SECONDS and checks what nginx recorded:
    // H.264 and AAC, as long as the run, each stream's DTS never going back,
    // each pass opening 1 ms above the highest timestamp before it, audio and
    // video in step. The recording's path.
    std::string stream_and_check(const std::vector<std::string>& extra_options) {
        std::vector<std::string> options = {"--type",   "mp4", "--name",   "Clip loop",
                                            "--source", clip,  "--output", nginx.rtmp_url("mp4key")};
        options.insert(options.end(), extra_options.begin(), extra_options.end());
        EXPECT_NE(add_and_run(options, {"--seconds", std::to_string(STREAMED_SECONDS)}), 0u);
        EXPECT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();
        const double streamed = wait_run_end(STREAMED_SECONDS + 20, tick_ms());
        expect_states({"STREAMING", "STOPPED"});

        const std::string flv = nginx.recording("mp4key");
        expect_clean_flv(flv, "h264,aac");
        EXPECT_NEAR(probe_duration(flv), streamed, 1.5) << "streamed for " << streamed << " s";
        std::vector<double> video = probe_dts(flv, 'v'), audio = probe_dts(flv, 'a');
        const size_t video_pass = probe_dts(clip, 'v').size(), audio_pass = probe_dts(clip, 'a').size();
        EXPECT_TRUE(video.size() > 3 * video_pass && audio.size() > 3 * audio_pass) << "fewer than three passes";
        for (size_t pass = 1; pass < 4 && video.size() > 3 * video_pass && audio.size() > 3 * audio_pass; ++pass) {
            const double v = video[pass * video_pass], a = audio[pass * audio_pass];
            const double highest = std::max(video[pass * video_pass - 1], audio[pass * audio_pass - 1]);
            EXPECT_NEAR(std::min(v, a), highest + 0.001, 0.0005) << "pass " << pass;
            EXPECT_NEAR(v - a, video[0] - audio[0], 0.002) << "pass " << pass;  // no drift
        }
        return flv;
    }

    std::string clip = dir.file("clip.mp4");
};

// On one timeline, in step, and nginx records the file's own samples byte for byte.
TEST_F(Mp4LoopE2eTest, PacketCopyLoopsOnOneTimelineInStepBitExact) {
    std::vector<FlvFileTag> tags;
    ASSERT_TRUE(flv_read_tags(read_file(stream_and_check({})), &tags));
    for (uint8_t type : {9, 8}) {  // video, audio
        const CopyCheck copies = check_copies(tags, type, clip);
        EXPECT_EQ(std::tuple(copies.frames > 3 * copies.per_pass, copies.differing), std::tuple(true, 0u)) << int(type);
    }
}

TEST_F(Mp4LoopE2eTest, OverlayLoopPaintsTheTickerOnTheSameTimeline) {
    ASSERT_EQ(run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "color=c=red:s=100x50",
                           "-frames:v", "1", dir.file("logo.png")}),
              0);
    // A plain blue band (text and background alike) along the bottom.
    std::string flv = stream_and_check({"--image", dir.file("logo.png"), "--text", "Ticker over the loop", "--encoder",
                                        "Software H.264", "--font-size", "24", "--text-color", "#0000FF",
                                        "--background-color", "#0000FF"});
    auto blue_band = [&](const std::string& path) {
        return best_band_share(decoded_frames(path, dir.path(), 2), 0, SIZE_MAX, 48, BLUE);
    };
    const double in_clip = blue_band(clip), in_flv = blue_band(flv);
    EXPECT_LT(in_clip, 0.25) << in_flv;  // the test picture's own
    EXPECT_GT(in_flv, 0.45) << in_clip;  // the band scrolls in: part of the width
}

}  // namespace
