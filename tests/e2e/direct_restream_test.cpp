// Direct Restream through the real veltrona-cli: ffmpeg writes a live HLS
// stream that nginx serves, the program republishes it to nginx-rtmp and
// records it to TS, and ffprobe judges what nginx recorded. Then a YouTube
// page whose media URL expires while it streams. (TLS is judged below, in
// tests/net and tests/rtmp, and under Wine; the loop after a source ends is
// reached in faults_test and judged in record_then_push_test.)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/app_fixture.h"
#include "support/media_fixtures.h"

namespace {

class DirectRestreamTest : public E2eTest {
  protected:
    // Waits for the run's own end (`run --seconds`); the seconds it streamed
    // since `since`. nginx is stopped, so its recordings are whole.
    double streamed_until_exit(uint32_t seconds, uint64_t since) {
        EXPECT_EQ(cli.wait_exit((seconds + 10) * 1000), 0) << cli.output();
        double streamed = static_cast<double>(tick_ms() - since) / 1000.0;
        end_live();
        nginx.stop();
        std::vector<std::string> states = cli.states();
        EXPECT_TRUE(in_order(states, {"RESOLVING", "STREAMING", "STOPPED"})) << cli.output();
        for (const char* never : {"RECONNECTING", "ERROR"}) {
            EXPECT_EQ(std::count(states.begin(), states.end(), never), 0) << cli.output();
        }
        return streamed;
    }
};

TEST_F(DirectRestreamTest, LiveHttpSourceToRtmpAndATsRecording) {
    start_nginx();
    start_live();
    uint32_t id =
        add_and_run(direct_workflow(nginx.http_url("live.m3u8"), nginx.rtmp_url("secretkey1")), {"--seconds", "20"});
    ASSERT_NE(id, 0u) << cli.output();
    ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();
    double streamed = streamed_until_exit(20, tick_ms());

    std::string flv = nginx.recording("secretkey1");
    expect_clean_flv(flv, "h264,aac");
    EXPECT_NEAR(probe_duration(flv), streamed, 1.5) << "streamed for " << streamed << " s";
    size_t first = 0, count = 0;
    EXPECT_TRUE(is_contiguous_segment_run(only_file_with_suffix(data_dir + "/recordings", ".ts"), nginx.www_dir, &first,
                                          &count));
    EXPECT_GE(count, 20u / 2 - 2);  // 2 s segments
    std::string log = workflow_log(id);
    for (const char* line : {"Workflow started", "Native HLS/RTMP engine starting", "Workflow stopped"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " missing from:\n" << log;
    }
    EXPECT_EQ(log.find("secretkey1"), std::string::npos) << "the stream key reached the log";
}

// The page first resolves to a URL under /exp/, which answers 403 once the
// flag file exists, as an expired signed URL does; resolved again, it gives
// the stream's other URL. The publish goes on on the same connection.
TEST_F(DirectRestreamTest, AnExpiredYoutubeUrlIsResolvedAgainOnTheSameConnection) {
    const std::string flag = dir.file("www/exp.flag");
    start_nginx(
        {.rtmp = true, .http = true, .http_locations = "location /exp/ { if (-f " + flag + ") { return 403; } }"});
    ASSERT_EQ(symlink(".", (nginx.www_dir + "/exp").c_str()), 0);
    start_live();
    const std::string tool_dir = dir.file("yt");
    std::string program = install_with_ytdlp(
        tool_dir, fake_ytdlp_script(nginx.http_url("exp/live.m3u8"), 0, nginx.http_url("live.m3u8")));
    uint32_t id =
        add_and_run(direct_workflow("https://www.youtube.com/watch?v=e2eExpiry", nginx.rtmp_url("renewed"), "youtube"),
                    {"--seconds", "30"}, program);
    ASSERT_NE(id, 0u) << cli.output();
    ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();
    const uint64_t since = tick_ms();
    std::this_thread::sleep_for(std::chrono::seconds(8));
    write_file(flag, "");
    EXPECT_TRUE(cli.wait_for("resolving it again", 20000)) << cli.output();
    double streamed = streamed_until_exit(30, since);

    std::vector<std::string> flvs = files_with_suffix(nginx.record_dir, ".flv");
    ASSERT_EQ(flvs.size(), 1u) << "one publish: the connection was kept";
    expect_clean_flv(flvs[0], "h264,aac");
    // The timeline goes on one frame after the last tag: a pause in sending
    // shows as media missing against the wall clock.
    const double duration = probe_duration(flvs[0]);
    std::printf("re-resolved source: streamed %.1f s, nginx recorded %.1f s\n", streamed, duration);
    EXPECT_GT(duration, streamed - 2.0 - 1.5) << "a gap of more than a target duration; streamed " << streamed;
    EXPECT_LT(duration, streamed + 1.5);
    EXPECT_EQ(read_file(tool_dir + "/bin/tools/calls"), "2\n");
    std::string log = workflow_log(id);
    for (const char* line : {"HTTP status 403", "YouTube source resolved again: fresh URL"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " missing from:\n" << log;
    }
}

}  // namespace
