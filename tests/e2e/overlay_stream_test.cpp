// Overlay + Stream through the real veltrona-cli: ffmpeg writes a live HLS
// stream that nginx serves; the program draws a picture and a ticker band,
// re-encodes and publishes to nginx-rtmp while recording the untouched
// source. ffprobe and decoded frames judge what arrived; an edit saved by a
// second veltrona-cli recolours the band while it runs. Also an audio-only
// source, and a run without the video engines' module. (The overlay loop after a source ends is the engine test's; the
// overlay pipeline pass after pass to nginx is judged in mp4_loop_test.)
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <thread>

#include "e2e/cli_driver.h"
#include "platform/time/clock.h"
#include "support/media_fixtures.h"

namespace {

constexpr uint32_t STREAMED_SECONDS = 20;
constexpr int FONT_SIZE = 20;     // the band is twice as high, at the bottom
constexpr int PICTURE_SIZE = 64;  // 20 % of the frame width, at the top left

// `text` split at spaces, then `tail` (paths, kept whole).
std::vector<std::string> words(const std::string& text, std::vector<std::string> tail = {}) {
    std::istringstream in(text);
    std::vector<std::string> all{std::istream_iterator<std::string>(in), {}};
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

// The longest distance between key frames; -1 when the first packet is not
// one or any packet's PTS differs from its DTS (a B-frame).
double longest_gop(const std::string& path) {
    double longest = 0, last_key = -1, pts = 0, dts = 0;
    for (const std::string& line : probe_lines(path, "v", "packet=pts_time,dts_time,flags")) {
        char flags[8] = {};
        if (std::sscanf(line.c_str(), "%lf,%lf,%7s", &pts, &dts, flags) < 2) continue;
        if (pts != dts || (last_key < 0 && flags[0] != 'K')) return -1;
        if (flags[0] != 'K') continue;
        if (last_key >= 0) longest = std::max(longest, dts - last_key);
        last_key = dts;
    }
    return longest;
}

double picture_share(const std::string& frame) {
    return share_near(frame, 8, PICTURE_SIZE - 8, 8, PICTURE_SIZE - 8, MAGENTA);
}

class OverlayStreamTest : public E2eTest {
  protected:
    void SetUp() override {
        start_nginx();
        ASSERT_EQ(
            run_command(words("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0xFF00FF:s=64x64 -frames:v 1",
                              {picture})),
            0);
    }

    // Starts `run args...` of an Overlay + Stream workflow from the served
    // playlist: the picture at the top left, a long ticker scrolling fast on
    // a green band at the bottom. Its id once the publisher connected, else 0.
    uint32_t start_overlay(const std::string& stream, std::vector<std::string> args) {
        uint32_t id = add_and_run(
            words("--type overlay --source-type direct --name Overlay --image-x 0 --image-y 0 --image-scale 20 "
                  "--text-bottom 0 --scroll-speed 200 --text-color #FFFFFF --background-color #00FF00 --bitrate 1M",
                  {"--font-size", std::to_string(FONT_SIZE), "--source", nginx.http_url("live.m3u8"), "--output",
                   nginx.rtmp_url(stream), "--image", native_path(picture), "--text", std::string(60, 'W')}),
            std::move(args));
        return id != 0 && cli.wait_for("Overlay publisher connected", 30000) ? id : 0;
    }

    // nginx's recording of `stream`: H.264 + AAC as long as the run streamed,
    // no B-frames, a key frame at least every 2 s, the picture in each of its
    // frames (two a second); those frames, for the band checks.
    std::vector<std::string> checked_frames(const std::string& stream, double streamed) {
        const std::string flv = nginx.recording(stream);
        expect_clean_flv(flv, "h264,aac");
        EXPECT_NEAR(probe_duration(flv), streamed, 2.0) << "streamed for " << streamed << " s";
        const double gop = longest_gop(flv);
        EXPECT_TRUE(gop > 0 && gop <= 2.1) << gop << " (-1: a B-frame or no key frame first)";
        std::vector<std::string> frames = decoded_frames(flv, dir.path(), 2);
        for (const std::string& frame : frames) EXPECT_GT(picture_share(frame), 0.9);
        return frames;
    }

    std::string picture = dir.file("logo.png");
};

TEST_F(OverlayStreamTest, LiveSourceWithPictureAndTickerEditedWhileRunning) {
    start_live();
    uint32_t id = start_overlay("overlaykey1", {"--seconds", std::to_string(STREAMED_SECONDS)});
    ASSERT_NE(id, 0u) << cli.output();
    uint64_t streaming_since = tick_ms();
    std::this_thread::sleep_for(std::chrono::seconds(8));
    std::string edit;
    EXPECT_EQ(cli_once(program(), {"edit", std::to_string(id), "--background-color", "#0000FF"}, &edit), 0) << edit;
    EXPECT_TRUE(cli.wait_for("#" + std::to_string(id) + " overlay settings updated", 5000)) << cli.output();
    double streamed = wait_run_end(STREAMED_SECONDS + 10, streaming_since);
    expect_states({"RESOLVING", "STREAMING", "STOPPED"});

    // The green band before the edit, the blue one well after it (a changed
    // band enters again from the right).
    std::vector<std::string> frames = checked_frames("overlaykey1", streamed);
    ASSERT_GE(frames.size(), 30u);
    EXPECT_GT(best_band_share(frames, 0, 14, 2 * FONT_SIZE, GREEN), 0.6);
    EXPECT_LT(best_band_share(frames, 0, 14, 2 * FONT_SIZE, BLUE), 0.5);  // the source has some blue of its own
    EXPECT_GT(best_band_share(frames, 26, frames.size(), 2 * FONT_SIZE, BLUE), 0.6);

    // Our recording is the source, segment for segment, without overlays.
    EXPECT_GE(recorded_segments(), STREAMED_SECONDS / 2 - 2);
    expect_log(id, {"Overlay publisher streaming; video encoder: "}, "overlaykey1");
}

// The Windows build draws and encodes the same (libx264 there: Wine has no
// hardware encoder), its band drawn by GDI.
TEST_F(OverlayStreamTest, UnderWineTheWindowsBuildPaintsAndEncodesTheSame) {
    if (!use_wine()) GTEST_SKIP() << "needs Wine and the Windows build (scripts/build windows)";
    start_live();
    uint32_t id = start_overlay("winekey", {"--seconds", std::to_string(STREAMED_SECONDS)});
    ASSERT_NE(id, 0u) << cli.output();
    double streamed = wait_run_end(STREAMED_SECONDS + 10, tick_ms());
    expect_states({"STREAMING", "STOPPED"});
    std::vector<std::string> frames = checked_frames("winekey", streamed);
    ASSERT_GE(frames.size(), 30u);
    EXPECT_GT(best_band_share(frames, 0, frames.size(), 2 * FONT_SIZE, GREEN), 0.6);
    expect_log(id, {"Overlay publisher streaming; video encoder: libx264 (software)"}, "winekey");
}

TEST_F(OverlayStreamTest, AudioOnlySourcePublishesAudioAloneAndStopsPromptly) {
    start_live(2, 90,
               words("ffmpeg -nostdin -loglevel error -re -f lavfi -i sine=frequency=440:sample_rate=48000:duration=90 "
                     "-c:a aac -b:a 64k -f hls -hls_time 2",
                     {nginx.www_dir + "/live.m3u8"}));
    uint32_t id = start_overlay("audioonly", {});
    ASSERT_NE(id, 0u) << cli.output();
    // The run holds its workflow: another shell cannot delete it.
    EXPECT_EQ(cli_once(program(), {"delete", std::to_string(id)}), 1);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    stop_run();  // prompt, without draining
    nginx.stop();
    expect_states({"STREAMING", "STOPPED"});

    std::string flv = nginx.recording("audioonly");
    expect_clean_flv(flv, "aac");
    EXPECT_GT(probe_duration(flv), 3.0);
}

// Without the video engines' module an overlay run fails with the reason,
// and goes on trying as after any engine failure.
TEST_F(OverlayStreamTest, WithoutTheVideoModuleTheRunSaysItIsNotInstalled) {
    ASSERT_EQ(setenv("VELTRONA_VIDEO_MODULE", dir.file("missing/veltrona-video.so").c_str(), 1), 0);
    uint32_t id = add_and_run(words("--type overlay --source-type direct --name Overlay --text Ticker",
                                    {"--source", nginx.http_url("live.m3u8"), "--output", nginx.rtmp_url("nomodule")}));
    unsetenv("VELTRONA_VIDEO_MODULE");
    ASSERT_NE(id, 0u) << cli.output();
    EXPECT_TRUE(
        cli.wait_for("last error: video engines are not installed: " + dir.file("missing/veltrona-video.so"), 15000))
        << cli.output();
    stop_run();
    EXPECT_EQ(nginx.recording("nomodule"), "") << "the server was contacted";
}

}  // namespace
