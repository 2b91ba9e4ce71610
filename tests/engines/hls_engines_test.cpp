// The two HLS capture engines against real peers: nginx serving an HLS
// stream that ffmpeg made, nginx-rtmp receiving the restream, and ffprobe
// judging what arrived; plus their failure texts and stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <thread>

#include "engines/engines.h"
#include "engines/hls_to_rtmp_engine.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/folders.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace {

using Error = std::array<char, ENGINE_ERROR_SIZE>;

struct StatusLog {
    std::mutex lock;
    std::vector<std::string> texts;
    static void record(void* context, const char* text) {
        auto* log = static_cast<StatusLog*>(context);
        std::lock_guard guard(log->lock);
        log->texts.emplace_back(text);
    }
};

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

class HlsEnginesTest : public ::testing::Test {
protected:
    void SetUp() override {
        NginxOptions options;
        options.rtmp = options.http = true;
        ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
    }
    // A 6-second VOD stream (three 2 s segments) in nginx's folder.
    void make_vod() {
        ASSERT_EQ(run_command(ffmpeg_hls_command(nginx.www_dir, 6.0, false), nullptr, 120), 0);
    }

    TempDir dir;
    NginxServer nginx;
};

TEST_F(HlsEnginesTest, RestreamsAVodSourceToItsEndAndRecordsEverySegment) {
    make_vod();
    StatusLog status;
    Error error{};
    Event stop;
    uint64_t began = tick_ms();
    int result = hls_to_rtmp_engine(nginx.http_url("live.m3u8"), nginx.rtmp_url("restream"), dir.file("rec.ts"), &stop,
                                    StatusLog::record, &status, error);
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

TEST_F(HlsEnginesTest, RecorderAppendsEverySegmentInOrder) {
    make_vod();
    StatusLog status;
    Error error{};
    Event stop;
    EXPECT_EQ(hls_to_ts_recorder(nginx.http_url("live.m3u8"), dir.file("rec.ts"), &stop, StatusLog::record, &status,
                                 error),
              1);
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
    EXPECT_EQ(hls_to_rtmp_engine("http://h/\xC3", "rtmp://h/a/k", "", &stop, nullptr, nullptr, error), 0);
    EXPECT_EQ(error_view(error), "URL conversion failed");
}

TEST_F(HlsEnginesTest, StopBeforeTheFirstSegmentAndWhilePacing) {
    // A source that never answers: a stop ends both engines with no message.
    Error error{};
    Event stopped;
    stopped.set();
    EXPECT_EQ(hls_to_ts_recorder("http://127.0.0.1:9/never.m3u8", dir.file("a.ts"), &stopped, nullptr, nullptr, error), 0);
    EXPECT_EQ(error_view(error), "");
    EXPECT_EQ(hls_to_rtmp_engine("http://127.0.0.1:9/never.m3u8", nginx.rtmp_url("x"), "", &stopped, nullptr, nullptr,
                                 error),
              1);
    EXPECT_EQ(error_view(error), "");

    make_vod();
    Event stop;
    int result = -1;
    std::thread engine([&] {
        result = hls_to_rtmp_engine(nginx.http_url("live.m3u8"), nginx.rtmp_url("paced"), "", &stop, nullptr, nullptr,
                                    error);
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
