// Direct Restream through the real veltrona-cli: ffmpeg writes a live HLS
// stream that nginx serves, the program republishes it to nginx-rtmp and
// records it to TS, and ffprobe judges what nginx recorded. Also the loop
// phase: a source that ends goes on as an endless loop of its recording.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace {

constexpr uint32_t STREAMED_SECONDS = 20;

// Largest step between two neighbouring values (0 for fewer than two).
double largest_step(const std::vector<double>& values) {
    double largest = 0;
    for (size_t i = 1; i < values.size(); ++i) largest = std::max(largest, values[i] - values[i - 1]);
    return largest;
}

class DirectRestreamTest : public ::testing::Test {
protected:
    void TearDown() override { ca.restore(); }

    // nginx with the listeners asked for; the TLS ones get the test CA's
    // certificate for 127.0.0.1, and the CA is trusted by the child.
    void start_nginx(bool tls) {
        NginxOptions options;
        options.rtmp = options.http = true;
        if (tls) {
            ASSERT_TRUE(ca.create(dir.path()));
            ca.trust();
            options.rtmps = options.https = true;
            options.cert = ca.server_cert;
            options.key = ca.server_key;
        }
        ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
        data_dir = dir.file("data");
    }

    // Streams a live source for STREAMED_SECONDS with `run --seconds` and
    // checks the whole road: states, nginx's recording, our TS recording,
    // the workflow log.
    void restream_and_check(const std::string& source, const std::string& output) {
        LiveHls live;
        ASSERT_TRUE(live.start(nginx.www_dir, 90));
        ASSERT_TRUE(live.wait_for_segments(2, 20000));
        uint32_t id = cli_add(data_dir, {"--type", "direct", "--source-type", "direct", "--name", "Restream", "--source", source, "--output",
                                         output});
        ASSERT_NE(id, 0u);

        CliProcess cli;
        ASSERT_TRUE(cli.start(cli_executable(), data_dir, {"--seconds", std::to_string(STREAMED_SECONDS),
                                                            std::to_string(id)}));
        ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();
        uint64_t streaming_since = tick_ms();
        EXPECT_EQ(cli.wait_exit((STREAMED_SECONDS + 10) * 1000), 0) << cli.output();
        double streamed = static_cast<double>(tick_ms() - streaming_since) / 1000.0;
        live.end();
        nginx.stop();  // nginx finishes the FLV file

        std::vector<std::string> states = cli.states();
        EXPECT_TRUE(in_order(states, {"RESOLVING", "STREAMING", "STOPPED"})) << cli.output();
        EXPECT_EQ(std::count(states.begin(), states.end(), "RECONNECTING"), 0) << cli.output();
        EXPECT_EQ(std::count(states.begin(), states.end(), "ERROR"), 0) << cli.output();

        std::string flv = nginx.recording("secretkey1");
        ASSERT_FALSE(flv.empty());
        EXPECT_EQ(probe_codecs(flv), "h264,aac");
        EXPECT_NEAR(probe_duration(flv), streamed, 1.5) << "streamed for " << streamed << " s";
        EXPECT_TRUE(never_goes_back(probe_dts(flv, 'v')));
        EXPECT_TRUE(never_goes_back(probe_dts(flv, 'a')));

        std::string recording = only_file_with_suffix(data_dir + "/recordings", ".ts");
        ASSERT_FALSE(recording.empty());
        size_t first = 0, count = 0;
        EXPECT_TRUE(is_contiguous_segment_run(recording, nginx.www_dir, &first, &count))
            << "the recording is not a run of the source's segments";
        EXPECT_GE(count, STREAMED_SECONDS / 2 - 2);  // 2 s segments

        std::string log = read_file(data_dir + "/logs/workflow-" + std::to_string(id) + ".log");
        for (const char* line : {"Workflow started", "Native HLS/RTMP engine starting", "Workflow stopped"}) {
            EXPECT_NE(log.find(line), std::string::npos) << line << " missing from:\n" << log;
        }
        EXPECT_EQ(log.find("secretkey1"), std::string::npos) << "the stream key reached the log";
    }

    TempDir dir;
    TestCa ca;
    NginxServer nginx;
    std::string data_dir;
};

TEST_F(DirectRestreamTest, HttpSourceToRtmp) {
    start_nginx(false);
    restream_and_check(nginx.http_url("live.m3u8"), nginx.rtmp_url("secretkey1"));
}

TEST_F(DirectRestreamTest, HttpsSourceToRtmps) {
    start_nginx(true);
    restream_and_check(nginx.https_url("live.m3u8"), nginx.rtmps_url("secretkey1"));
}

// A VOD-style source (with an end list) ends after its last segments; the
// recording then plays in a loop on one timeline.
TEST_F(DirectRestreamTest, SourceThatEndsGoesOnAsALoopOfItsRecording) {
    start_nginx(false);
    ASSERT_EQ(run_command(ffmpeg_hls_command(nginx.www_dir, 6.0, false), nullptr, 120), 0);
    uint32_t id = cli_add(data_dir, {"--type", "direct", "--source-type", "direct", "--name", "Ends", "--source", nginx.http_url("live.m3u8"),
                                     "--output", nginx.rtmp_url("ends")});
    ASSERT_NE(id, 0u);

    CliProcess cli;
    ASSERT_TRUE(cli.start(cli_executable(), data_dir, {std::to_string(id)}));
    std::optional<size_t> playing = cli.wait_for_state("PLAYING", 20000);
    ASSERT_TRUE(playing) << cli.output();
    // Three passes of the 4 s recording (the downloader joined at the last two segments).
    std::this_thread::sleep_for(std::chrono::seconds(12));
    uint64_t took = 0;
    EXPECT_EQ(cli.terminate(2000, &took), 0) << cli.output();
    nginx.stop();

    EXPECT_TRUE(in_order(cli.states(), {"RESOLVING", "STREAMING", "LIVE ENDED", "STARTING PLAYBACK", "PLAYING",
                                        "STOPPED"}))
        << cli.output();
    EXPECT_EQ(cli.wait_for_state("RECONNECTING", 0), std::nullopt) << cli.output();

    std::string recording = only_file_with_suffix(data_dir + "/recordings", ".ts");
    ASSERT_FALSE(recording.empty());
    double source_seconds = probe_duration(recording);
    EXPECT_NEAR(source_seconds, 4.0, 0.5);

    // The restream and the loop are two publishes, so two files; the loop's is the later one.
    std::vector<std::string> flvs = files_with_suffix(nginx.record_dir, ".flv");
    ASSERT_EQ(flvs.size(), 2u);
    const std::string& loop = flvs[1];
    EXPECT_EQ(probe_codecs(loop), "h264,aac");
    EXPECT_GT(probe_duration(loop), 2.5 * source_seconds);
    std::vector<double> video = probe_dts(loop, 'v');
    std::vector<double> audio = probe_dts(loop, 'a');
    EXPECT_TRUE(never_goes_back(video));
    EXPECT_TRUE(never_goes_back(audio));
    // Passes follow each other without a hole: one frame apart (25 fps), not a pass apart.
    EXPECT_LT(largest_step(video), 0.1);
}

}  // namespace
