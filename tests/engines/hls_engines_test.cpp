// The two HLS capture engines against real peers: nginx serving an HLS
// stream that ffmpeg made, nginx-rtmp receiving the restream, and ffprobe
// judging what arrived; plus their failure texts and stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <sstream>
#include <thread>

#include "engines/engines.h"
#include "engines/hls_to_rtmp_engine.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/folders.h"
#include "support/child.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/text_log.h"
#include "support/wait.h"

namespace {

using Error = std::array<char, ENGINE_ERROR_SIZE>;

// The last two segments of a playlist, concatenated: where a downloader
// joining a stream starts.
std::string last_two_segments(const std::string& folder) {
    std::vector<std::string> names;
    std::istringstream lines(read_file(folder + "/live.m3u8"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') names.push_back(line);
    }
    std::string bytes;
    for (size_t i = names.size() >= 2 ? names.size() - 2 : 0; i < names.size(); ++i) {
        bytes += read_file(folder + "/" + names[i]);
    }
    return bytes;
}

// Byte comparison without dumping megabytes into the log.
::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.size() << " bytes differ from the expected " << expected.size();
}

// The largest step between two successive values (0 for fewer than two).
double largest_step(const std::vector<double>& values) {
    double largest = 0;
    for (size_t i = 1; i < values.size(); ++i) largest = std::max(largest, values[i] - values[i - 1]);
    return largest;
}

// A live origin made of ffmpeg segments whose clocks jump: the playlist in
// nginx's folder starts with two segments and gains one every 1.5 s, then
// ends, written whole each time (rename) so a poll never reads half of it.
struct JumpingOrigin {
    struct Segment {
        double clock_start;
        const char* size;
        bool discontinuity;
    };
    std::string folder;
    std::vector<Segment> segments;
    std::thread writer;

    bool make() {
        for (size_t i = 0; i < segments.size(); ++i) {
            const Segment& s = segments[i];
            if (!make_test_segment(folder + "/seg" + std::to_string(i) + ".ts", 2.0, s.clock_start, s.size)) {
                return false;
            }
        }
        write(2, false);
        return true;
    }
    void write(size_t count, bool ended) {
        std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n";
        for (size_t i = 0; i < count; ++i) {
            if (segments[i].discontinuity) text += "#EXT-X-DISCONTINUITY\n";
            text += "#EXTINF:2.0,\nseg" + std::to_string(i) + ".ts\n";
        }
        if (ended) text += "#EXT-X-ENDLIST\n";
        write_file(folder + "/live.tmp", text);
        std::rename((folder + "/live.tmp").c_str(), (folder + "/live.m3u8").c_str());
    }
    void grow() {
        writer = std::thread([this] {
            for (size_t count = 3; count <= segments.size(); ++count) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                write(count, count == segments.size());
            }
        });
    }
    ~JumpingOrigin() {
        if (writer.joinable()) writer.join();
    }
};

class HlsEnginesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NginxOptions options;
        options.rtmp = options.http = true;
        ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
    }
    // A 6-second VOD stream (three 2 s segments) in nginx's folder.
    void make_vod() { ASSERT_EQ(run_command(ffmpeg_hls_command(nginx.www_dir, 6.0, false), nullptr, 120), 0); }

    TempDir dir;
    NginxServer nginx;
};

TEST_F(HlsEnginesTest, RestreamsAVodSourceToItsEndAndRecordsEverySegment) {
    make_vod();
    TextLog status;
    Error error{};
    Event stop;
    uint64_t began = tick_ms();
    int result = hls_to_rtmp_engine(nginx.http_url("live.m3u8"), nginx.rtmp_url("restream"), dir.file("rec.ts"), &stop,
                                    TextLog::record, &status, EngineHooks{}, error);
    uint64_t took = tick_ms() - began;
    EXPECT_EQ(result, 1) << error_view(error);
    EXPECT_EQ(error_view(error), "");
    EXPECT_EQ(status.texts, std::vector<std::string>{"Native RTMP publisher connected"});
    EXPECT_GE(took, 3000u);  // two 2 s segments, paced in real time, not dumped
    EXPECT_TRUE(same_bytes(read_file(dir.file("rec.ts")), last_two_segments(nginx.www_dir)));

    nginx.stop();
    std::string recording = nginx.recording("restream");
    ASSERT_FALSE(recording.empty());
    EXPECT_EQ(probe_codecs(recording), "h264,aac");
    EXPECT_NEAR(probe_duration(recording), 4.0, 0.5);
    EXPECT_TRUE(never_goes_back(probe_dts(recording, 'v')));
    EXPECT_TRUE(never_goes_back(probe_dts(recording, 'a')));
}

TEST_F(HlsEnginesTest, SourceClockJumpsBecomeOneRisingPacedTimeline) {
    // Forward two hours without a mark; back to 5 s with a mark and a new
    // picture size (new parameter sets); at 20 h, then down to 1 s without a
    // mark (a drop, not a 33-bit wrap).
    JumpingOrigin origin{nginx.www_dir,
                         {{10, "320x240", false},
                          {12, "320x240", false},
                          {7200, "320x240", false},
                          {5, "160x120", true},
                          {72000, "160x120", false},
                          {1, "160x120", false}},
                         {}};
    ASSERT_TRUE(origin.make());
    Error error{};
    Event stop;
    origin.grow();
    uint64_t began = tick_ms();
    int result = hls_to_rtmp_engine(nginx.http_url("live.m3u8"), nginx.rtmp_url("jumps"), dir.file("rec.ts"), &stop,
                                    nullptr, nullptr, EngineHooks{}, error);
    double took = static_cast<double>(tick_ms() - began) / 1000.0;
    EXPECT_EQ(result, 1) << error_view(error);

    nginx.stop();
    std::string recording = nginx.recording("jumps");
    ASSERT_FALSE(recording.empty());
    std::vector<double> video = probe_dts(recording, 'v'), audio = probe_dts(recording, 'a');
    ASSERT_GT(video.size(), 200u) << "six 2 s segments at 25 fps";
    EXPECT_TRUE(never_goes_back(video));
    EXPECT_TRUE(never_goes_back(audio));
    EXPECT_LT(largest_step(video), 2.0);
    EXPECT_LT(largest_step(audio), 2.0);
    EXPECT_NEAR(video.back(), audio.back(), 0.5) << "audio and video in step";
    EXPECT_NEAR(video.back() - video.front(), 12.0, 1.0);
    EXPECT_LE(video.back() - video.front(), took + 0.5) << "paced: never ahead of the wall clock";
    std::vector<double> widths = probe_frame_widths(recording);
    EXPECT_NE(std::find(widths.begin(), widths.end(), 320.0), widths.end());
    EXPECT_NE(std::find(widths.begin(), widths.end(), 160.0), widths.end()) << "the new SPS reached the server";
}

// A 4 MiB tmpfs mounted for one test and unmounted after it.
struct SmallFileSystem {
    std::string folder;
    bool mounted = false;
    explicit SmallFileSystem(const std::string& at) : folder(at) {
        mounted =
            ensure_directory(folder) && run_command({"mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", folder}) == 0;
    }
    ~SmallFileSystem() {
        if (mounted) (void)run_command({"umount", folder});
    }
};

TEST_F(HlsEnginesTest, AFullRecordingDiskStopsTheRecordingNotTheStream) {
    make_vod();
    SmallFileSystem disk(dir.file("small"));
    if (!disk.mounted) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    // Room for about one and a half of the two segments the engine will take.
    std::vector<std::string> names;
    std::istringstream lines(read_file(nginx.www_dir + "/live.m3u8"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') names.push_back(line);
    }
    ASSERT_GE(names.size(), 2u);
    const size_t first = read_file(nginx.www_dir + "/" + names[names.size() - 2]).size();
    const size_t second = read_file(nginx.www_dir + "/" + names.back()).size();
    write_file(disk.folder + "/filler", std::string((4u << 20) - first - second / 2 - 8192, 'x'));

    TextLog notices;
    Error error{};
    Event stop;
    EngineHooks hooks;
    hooks.notice = TextLog::record;
    hooks.context = &notices;
    int result = hls_to_rtmp_engine(nginx.http_url("live.m3u8"), nginx.rtmp_url("full"), disk.folder + "/rec.ts", &stop,
                                    nullptr, nullptr, hooks, error);
    EXPECT_EQ(result, 1) << error_view(error);
    ASSERT_EQ(notices.texts.size(), 1u);
    EXPECT_EQ(notices.texts[0], "Recording stopped, stream goes on: write failed (No space left on device)");
    EXPECT_EQ(read_file(disk.folder + "/rec.ts").size(), first) << "cut back to its last whole segment";

    nginx.stop();
    EXPECT_NEAR(probe_duration(nginx.recording("full")), 4.0, 0.5) << "both segments were published";
}

// Hands out the fresh URL and counts the calls.
struct Resolver {
    std::string url;
    std::atomic<int> calls{0};
    static bool resolve(void* context, std::string* url) {
        auto* self = static_cast<Resolver*>(context);
        ++self->calls;
        *url = self->url;
        return true;
    }
};

TEST_F(HlsEnginesTest, AnExpiredSourceUrlIsResolvedAgainOnTheSameConnection) {
    // ffmpeg writes a live stream; the first URL is a copy of its playlist
    // that the origin stops serving after 5 s, as an expired signed URL does.
    Child ffmpeg;
    ASSERT_TRUE(ffmpeg.start(ffmpeg_hls_command(nginx.www_dir, 40.0, true), dir.file("ffmpeg.log")));
    const std::string live = nginx.www_dir + "/live.m3u8", old = nginx.www_dir + "/old.m3u8";
    ASSERT_TRUE(wait_until([&] { return read_file(live).find(".ts") != std::string::npos; }, 30000));
    std::atomic<bool> expire{false};
    std::thread origin([&] {
        while (!expire) {
            write_file(old + ".tmp", read_file(live));
            std::rename((old + ".tmp").c_str(), old.c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        std::remove(old.c_str());
    });
    Resolver resolver;
    resolver.url = nginx.http_url("live.m3u8");
    EngineHooks hooks;
    hooks.resolve_source = Resolver::resolve;
    hooks.context = &resolver;
    Error error{};
    Event stop;
    int result = -1;
    std::thread engine([&] {
        result = hls_to_rtmp_engine(nginx.http_url("old.m3u8"), nginx.rtmp_url("resolved"), "", &stop, nullptr, nullptr,
                                    hooks, error);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5000));
    expire = true;
    origin.join();
    EXPECT_TRUE(wait_until([&] { return resolver.calls.load() > 0; }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(6000));
    stop.set();
    engine.join();
    ffmpeg.stop();
    EXPECT_EQ(result, 1) << error_view(error);
    EXPECT_EQ(resolver.calls.load(), 1);

    nginx.stop();
    std::string recording = nginx.recording("resolved");
    ASSERT_FALSE(recording.empty());
    std::vector<double> video = probe_dts(recording, 'v'), audio = probe_dts(recording, 'a');
    EXPECT_TRUE(never_goes_back(video));
    EXPECT_TRUE(never_goes_back(audio));
    EXPECT_LT(largest_step(video), 2.0);
    ASSERT_FALSE(video.empty());
    EXPECT_GT(video.back() - video.front(), 9.0) << "streaming went on after the old URL expired";
}

TEST_F(HlsEnginesTest, RecorderAppendsEverySegmentInOrder) {
    make_vod();
    TextLog status;
    Error error{};
    Event stop;
    EXPECT_EQ(
        hls_to_ts_recorder(nginx.http_url("live.m3u8"), dir.file("rec.ts"), &stop, TextLog::record, &status, error), 1);
    EXPECT_EQ(error_view(error), "");
    EXPECT_EQ(status.texts, std::vector<std::string>{"Recording native HLS to TS"});
    EXPECT_TRUE(same_bytes(read_file(dir.file("rec.ts")), last_two_segments(nginx.www_dir)));
}

TEST_F(HlsEnginesTest, BadArgumentsFailAtOnce) {
    Error error{};
    Event stop;
    EXPECT_EQ(hls_to_ts_recorder(nginx.http_url("live.m3u8"), dir.file("no/such/folder/rec.ts"), &stop, nullptr,
                                 nullptr, error),
              0);
    EXPECT_EQ(error_view(error), "recording file cannot be opened");
    EXPECT_EQ(hls_to_rtmp_engine("http://h/\xC3", "rtmp://h/a/k", "", &stop, nullptr, nullptr, EngineHooks{}, error),
              0);
    EXPECT_EQ(error_view(error), "URL conversion failed");
}

TEST_F(HlsEnginesTest, StopBeforeTheFirstSegmentAndWhilePacing) {
    // A source that never answers: a stop ends both engines with no message.
    Error error{};
    Event stopped;
    stopped.set();
    EXPECT_EQ(hls_to_ts_recorder("http://127.0.0.1:9/never.m3u8", dir.file("a.ts"), &stopped, nullptr, nullptr, error),
              0);
    EXPECT_EQ(error_view(error), "");
    EXPECT_EQ(hls_to_rtmp_engine("http://127.0.0.1:9/never.m3u8", nginx.rtmp_url("x"), "", &stopped, nullptr, nullptr,
                                 EngineHooks{}, error),
              1);
    EXPECT_EQ(error_view(error), "");

    make_vod();
    Event stop;
    int result = -1;
    std::thread engine([&] {
        result = hls_to_rtmp_engine(nginx.http_url("live.m3u8"), nginx.rtmp_url("paced"), "", &stop, nullptr, nullptr,
                                    EngineHooks{}, error);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    uint64_t began = tick_ms();
    stop.set();
    engine.join();
    EXPECT_LT(tick_ms() - began, 600u);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(error_view(error), "");
}

}  // namespace
