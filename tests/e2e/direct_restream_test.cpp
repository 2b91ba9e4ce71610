// Direct Restream through the real veltrona-cli: ffmpeg writes a live HLS
// stream that nginx serves, the program republishes it to nginx-rtmp and
// records it to TS, and ffprobe judges what nginx recorded. (The loop after
// a source ends is reached in faults_test and judged in record_then_push_test.)
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace {

constexpr uint32_t STREAMED_SECONDS = 20;

class DirectRestreamTest : public ::testing::Test {
  protected:
    void TearDown() override { ca.restore(); }

    // TLS listeners carry the test CA's certificate for 127.0.0.1; the child trusts the CA.
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
    }

    // `run --seconds` on a live source, then the whole road: states, nginx's
    // recording, our TS recording, the workflow log.
    void restream_and_check(const std::string& source, const std::string& output) {
        LiveHls live;
        ASSERT_TRUE(live.start(nginx.www_dir, 90));
        ASSERT_TRUE(live.wait_for_segments(2, 20000));
        uint32_t id = cli_add(data_dir, {"--type", "direct", "--source-type", "direct", "--name", "Restream",
                                         "--source", source, "--output", output});
        ASSERT_NE(id, 0u);
        CliProcess cli;
        ASSERT_TRUE(
            cli.start(cli_executable(), data_dir, {"--seconds", std::to_string(STREAMED_SECONDS), std::to_string(id)}));
        ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();
        uint64_t streaming_since = tick_ms();
        EXPECT_EQ(cli.wait_exit((STREAMED_SECONDS + 10) * 1000), 0) << cli.output();
        double streamed = static_cast<double>(tick_ms() - streaming_since) / 1000.0;
        live.end();
        nginx.stop();  // nginx finishes the FLV file

        std::vector<std::string> states = cli.states();
        EXPECT_TRUE(in_order(states, {"RESOLVING", "STREAMING", "STOPPED"})) << cli.output();
        for (const char* never : {"RECONNECTING", "ERROR"}) {
            EXPECT_EQ(std::count(states.begin(), states.end(), never), 0) << cli.output();
        }
        std::string flv = nginx.recording("secretkey1");
        ASSERT_FALSE(flv.empty());
        EXPECT_EQ(probe_codecs(flv), "h264,aac");
        EXPECT_NEAR(probe_duration(flv), streamed, 1.5) << "streamed for " << streamed << " s";
        EXPECT_TRUE(never_goes_back(probe_dts(flv, 'v')));
        EXPECT_TRUE(never_goes_back(probe_dts(flv, 'a')));

        size_t first = 0, count = 0;
        EXPECT_TRUE(is_contiguous_segment_run(only_file_with_suffix(data_dir + "/recordings", ".ts"), nginx.www_dir,
                                              &first, &count));
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
    std::string data_dir = dir.file("data");
};

TEST_F(DirectRestreamTest, HttpSourceToRtmp) {
    start_nginx(false);
    restream_and_check(nginx.http_url("live.m3u8"), nginx.rtmp_url("secretkey1"));
}

TEST_F(DirectRestreamTest, HttpsSourceToRtmps) {
    start_nginx(true);
    restream_and_check(nginx.https_url("live.m3u8"), nginx.rtmps_url("secretkey1"));
}

}  // namespace
