// Overlay + Stream through the real veltrona-cli: ffmpeg writes a live HLS
// stream that nginx serves; the program decodes it, draws a picture and a
// ticker band, re-encodes and publishes to nginx-rtmp while recording the
// untouched source. ffprobe judges the published stream, frames ffmpeg
// decodes from it show the overlays where they belong, and an edit saved
// by a second veltrona-cli changes the band's colour while it runs. Also
// the loop with overlays after a source ends, and an audio-only source
// (which a second veltrona-cli may not delete while it streams).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t STREAMED_SECONDS = 20;
constexpr int WIDTH = 320, HEIGHT = 240;  // the live fixture's picture
constexpr int FONT_SIZE = 20;             // the band is twice as high, at the bottom
constexpr int PICTURE_SIZE = 64;          // 20 % of the frame width, at the top left

struct Rgb {
    int r, g, b;
};
constexpr Rgb GREEN{0, 255, 0}, BLUE{0, 0, 255}, MAGENTA{255, 0, 255};

struct VideoPacket {
    double pts = 0, dts = 0;
    bool key = false;
};

std::vector<VideoPacket> video_packets(const std::string& path) {
    std::string out;
    run_command({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                 "packet=pts_time,dts_time,flags", "-of", "csv=p=0", path},
                &out, 60);
    std::vector<VideoPacket> packets;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        VideoPacket p;
        char flags[8] = {};
        if (std::sscanf(line.c_str(), "%lf,%lf,%7s", &p.pts, &p.dts, flags) < 2) continue;
        p.key = flags[0] == 'K';
        packets.push_back(p);
    }
    return packets;
}

// Frames decoded from `path`, `per_second` a second, as packed RGB.
std::vector<std::string> decoded_frames(const std::string& path, const std::string& folder,
                                        int per_second) {
    std::string raw = folder + "/frames.rgb";
    run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", path, "-vf",
                 "fps=" + std::to_string(per_second), "-f", "rawvideo", "-pix_fmt", "rgb24", raw},
                nullptr, 120);
    std::string bytes = read_file(raw);
    const size_t frame_size = size_t{WIDTH} * HEIGHT * 3;
    std::vector<std::string> frames;
    for (size_t at = 0; at + frame_size <= bytes.size(); at += frame_size)
        frames.push_back(bytes.substr(at, frame_size));
    return frames;
}

// The share of pixels in rows [top, bottom) and columns [left, right) close to `colour`.
double share_near(const std::string& frame, int top, int bottom, int left, int right, Rgb colour) {
    size_t near = 0, all = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x, ++all) {
            const auto* p =
                reinterpret_cast<const uint8_t*>(frame.data()) + (size_t(y) * WIDTH + x) * 3;
            near += std::abs(p[0] - colour.r) < 60 && std::abs(p[1] - colour.g) < 60 &&
                    std::abs(p[2] - colour.b) < 60;
        }
    }
    return all ? double(near) / double(all) : 0;
}

// The most a frame of [first, last) shows of `colour` in the band's rows
// (the band scrolls in from the right, so only some frames are covered).
double best_band_share(const std::vector<std::string>& frames, size_t first, size_t last,
                       Rgb colour) {
    double best = 0;
    for (size_t i = first; i < std::min(last, frames.size()); ++i) {
        best = std::max(
            best, share_near(frames[i], HEIGHT - 2 * FONT_SIZE + 4, HEIGHT - 4, 0, WIDTH, colour));
    }
    return best;
}

double largest_step(const std::vector<double>& values) {
    double largest = 0;
    for (size_t i = 1; i < values.size(); ++i)
        largest = std::max(largest, values[i] - values[i - 1]);
    return largest;
}

class OverlayStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NginxOptions options;
        options.rtmp = options.http = true;
        ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
        data_dir = dir.file("data");
        picture = dir.file("logo.png");
        ASSERT_EQ(run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
                               "-i", "color=c=0xFF00FF:s=64x64", "-frames:v", "1", picture},
                              nullptr, 60),
                  0);
    }

    // An Overlay + Stream workflow: the picture at the top left, a long
    // ticker scrolling fast on a green band at the bottom.
    uint32_t add_overlay(const std::string& source, const std::string& stream) {
        return cli_add(data_dir, {"--type",
                                  "overlay",
                                  "--source-type",
                                  "direct",
                                  "--name",
                                  "Overlay",
                                  "--source",
                                  source,
                                  "--output",
                                  nginx.rtmp_url(stream),
                                  "--image",
                                  picture,
                                  "--image-x",
                                  "0",
                                  "--image-y",
                                  "0",
                                  "--image-scale",
                                  "20",
                                  "--text",
                                  std::string(60, 'W'),
                                  "--text-bottom",
                                  "0",
                                  "--font-size",
                                  std::to_string(FONT_SIZE),
                                  "--scroll-speed",
                                  "200",
                                  "--text-color",
                                  "#FFFFFF",
                                  "--background-color",
                                  "#00FF00",
                                  "--bitrate",
                                  "1M"});
    }

    TempDir dir;
    NginxServer nginx;
    std::string data_dir, picture;
};

TEST_F(OverlayStreamTest, LiveSourceWithPictureAndTickerEditedWhileRunning) {
    LiveHls live;
    ASSERT_TRUE(live.start(nginx.www_dir, 90));
    ASSERT_TRUE(live.wait_for_segments(2, 20000));
    uint32_t id = add_overlay(nginx.http_url("live.m3u8"), "overlaykey1");
    ASSERT_NE(id, 0u);

    CliProcess cli;
    ASSERT_TRUE(cli.start(cli_executable(), data_dir,
                          {"--seconds", std::to_string(STREAMED_SECONDS), std::to_string(id)}));
    ASSERT_TRUE(cli.wait_for("Overlay publisher connected", 20000)) << cli.output();
    uint64_t streaming_since = tick_ms();
    std::this_thread::sleep_for(std::chrono::seconds(8));
    // A second process changes the band while the first one streams.
    CliOutput edit = cli_run_once(cli_executable(), data_dir,
                                  {"edit", std::to_string(id), "--background-color", "#0000FF"});
    EXPECT_EQ(edit.exit_code, 0) << edit.out;
    EXPECT_TRUE(cli.wait_for("#" + std::to_string(id) + " overlay settings updated", 5000))
        << cli.output();
    EXPECT_EQ(cli.wait_exit((STREAMED_SECONDS + 10) * 1000), 0) << cli.output();
    double streamed = static_cast<double>(tick_ms() - streaming_since) / 1000.0;
    live.end();
    nginx.stop();

    std::vector<std::string> states = cli.states();
    EXPECT_TRUE(in_order(states, {"RESOLVING", "STREAMING", "STOPPED"})) << cli.output();
    EXPECT_EQ(std::count(states.begin(), states.end(), "RECONNECTING"), 0) << cli.output();
    EXPECT_NE(cli.output().find("; video encoder: "), std::string::npos) << cli.output();

    std::string flv = nginx.recording("overlaykey1");
    ASSERT_FALSE(flv.empty());
    EXPECT_EQ(probe_codecs(flv), "h264,aac");
    EXPECT_NEAR(probe_duration(flv), streamed, 2.0) << "streamed for " << streamed << " s";
    EXPECT_TRUE(never_goes_back(probe_dts(flv, 'v')));
    EXPECT_TRUE(never_goes_back(probe_dts(flv, 'a')));
    std::vector<VideoPacket> packets = video_packets(flv);
    ASSERT_GT(packets.size(), 100u);
    EXPECT_TRUE(packets.front().key);
    double last_key = packets.front().dts, longest_gop = 0;
    for (const VideoPacket& p : packets) {
        EXPECT_DOUBLE_EQ(p.pts, p.dts) << "a B-frame at " << p.dts;
        if (!p.key) continue;
        longest_gop = std::max(longest_gop, p.dts - last_key);
        last_key = p.dts;
    }
    EXPECT_LE(longest_gop, 2.1);

    // Two frames a second: the picture in every one, the green band before
    // the edit, the blue one well after it (the band enters again from the
    // right after a change).
    std::vector<std::string> frames = decoded_frames(flv, dir.path(), 2);
    ASSERT_GE(frames.size(), 30u);
    for (const std::string& frame : frames) {
        EXPECT_GT(share_near(frame, 8, PICTURE_SIZE - 8, 8, PICTURE_SIZE - 8, MAGENTA), 0.9);
    }
    EXPECT_GT(best_band_share(frames, 0, 14, GREEN), 0.6);
    EXPECT_LT(best_band_share(frames, 0, 14, BLUE), 0.5);  // the source has some blue of its own
    EXPECT_GT(best_band_share(frames, 26, frames.size(), BLUE), 0.6);

    // Our recording is the source, segment for segment, without overlays.
    std::string recording = only_file_with_suffix(data_dir + "/recordings", ".ts");
    ASSERT_FALSE(recording.empty());
    size_t first = 0, count = 0;
    EXPECT_TRUE(is_contiguous_segment_run(recording, nginx.www_dir, &first, &count))
        << "the recording is not a run of the source's segments";
    EXPECT_GE(count, STREAMED_SECONDS / 2 - 2);
    std::string log = read_file(data_dir + "/logs/workflow-" + std::to_string(id) + ".log");
    EXPECT_NE(log.find("Overlay publisher streaming; video encoder: "), std::string::npos) << log;
    EXPECT_EQ(log.find("overlaykey1"), std::string::npos) << "the stream key reached the log";
}

TEST_F(OverlayStreamTest, SourceThatEndsLoopsWithOverlaysOnOneTimeline) {
    ASSERT_EQ(run_command(ffmpeg_hls_command(nginx.www_dir, 6.0, false), nullptr, 120), 0);
    uint32_t id = add_overlay(nginx.http_url("live.m3u8"), "overlayloop");
    ASSERT_NE(id, 0u);

    CliProcess cli;
    ASSERT_TRUE(cli.start(cli_executable(), data_dir, {std::to_string(id)}));
    ASSERT_TRUE(cli.wait_for_state("PLAYING", 30000)) << cli.output();
    std::this_thread::sleep_for(std::chrono::seconds(12));
    uint64_t took = 0;
    EXPECT_EQ(cli.terminate(2000, &took), 0) << cli.output();
    nginx.stop();

    EXPECT_TRUE(in_order(cli.states(), {"RESOLVING", "STREAMING", "LIVE ENDED", "STARTING PLAYBACK",
                                        "PLAYING", "STOPPED"}))
        << cli.output();
    EXPECT_EQ(cli.wait_for_state("RECONNECTING", 0), std::nullopt) << cli.output();
    EXPECT_TRUE(cli.wait_for("Overlay TS loop playing; video encoder: ", 0)) << cli.output();

    std::vector<std::string> flvs = files_with_suffix(nginx.record_dir, ".flv");
    ASSERT_EQ(flvs.size(), 2u);  // the live publish, then the loop's
    const std::string& loop = flvs[1];
    EXPECT_EQ(probe_codecs(loop), "h264,aac");
    double source_seconds = probe_duration(only_file_with_suffix(data_dir + "/recordings", ".ts"));
    EXPECT_GT(probe_duration(loop), 2.5 * source_seconds);
    std::vector<double> video = probe_dts(loop, 'v');
    EXPECT_TRUE(never_goes_back(video));
    EXPECT_TRUE(never_goes_back(probe_dts(loop, 'a')));
    EXPECT_LT(largest_step(video), 0.1);  // passes follow one frame apart
    std::vector<std::string> frames = decoded_frames(loop, dir.path(), 1);
    ASSERT_FALSE(frames.empty());
    EXPECT_GT(share_near(frames.back(), 8, PICTURE_SIZE - 8, 8, PICTURE_SIZE - 8, MAGENTA), 0.9);
}

TEST_F(OverlayStreamTest, AudioOnlySourcePublishesAudioAloneAndStopsPromptly) {
    Child live;
    ASSERT_TRUE(live.start({"ffmpeg",
                            "-nostdin",
                            "-loglevel",
                            "error",
                            "-re",
                            "-f",
                            "lavfi",
                            "-i",
                            "sine=frequency=440:sample_rate=48000:duration=90",
                            "-c:a",
                            "aac",
                            "-b:a",
                            "64k",
                            "-f",
                            "hls",
                            "-hls_time",
                            "2",
                            "-hls_list_size",
                            "6",
                            nginx.www_dir + "/live.m3u8"},
                           dir.file("ffmpeg.log")));
    uint64_t deadline = tick_ms() + 20000;
    while (playlist_segments(nginx.www_dir).size() < 2 && tick_ms() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    uint32_t id = add_overlay(nginx.http_url("live.m3u8"), "audioonly");
    ASSERT_NE(id, 0u);

    CliProcess cli;
    ASSERT_TRUE(cli.start(cli_executable(), data_dir, {std::to_string(id)}));
    ASSERT_TRUE(cli.wait_for("Overlay publisher connected", 20000)) << cli.output();
    // Another shell cannot delete what this run is streaming.
    EXPECT_EQ(cli_run_once(cli_executable(), data_dir, {"delete", std::to_string(id)}).exit_code,
              1);
    EXPECT_EQ(cli_run_once(cli_executable(), data_dir, {"list"}).out.substr(0, 2),
              std::to_string(id) + "\t");
    std::this_thread::sleep_for(std::chrono::seconds(5));
    uint64_t took = 0;
    EXPECT_EQ(cli.terminate(2000, &took), 0) << cli.output();
    std::printf("stop while streaming: exit %llu ms after SIGTERM\n",
                static_cast<unsigned long long>(took));
    EXPECT_LT(took, 2000u);
    (void)live.stop(5000);
    nginx.stop();

    EXPECT_EQ(cli.wait_for_state("RECONNECTING", 0), std::nullopt) << cli.output();
    std::string flv = nginx.recording("audioonly");
    ASSERT_FALSE(flv.empty());
    EXPECT_EQ(probe_codecs(flv), "aac");
    EXPECT_GT(probe_duration(flv), 3.0);
}

}  // namespace
