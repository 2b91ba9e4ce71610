// Direct Restream through the real veltrona-cli: ffmpeg writes a live HLS
// stream that nginx serves, the program republishes it to nginx-rtmp and
// records it to TS, and ffprobe judges what nginx recorded; the process
// maps none of the video libraries. Then a YouTube
// page whose media URL expires while it streams. (TLS is judged below, in
// tests/net and tests/rtmp, and under Wine; the loop after a source ends is
// reached in faults_test and judged in record_then_push_test.)
#include <unistd.h>

#include <thread>

#include "e2e/cli_driver.h"
#include "platform/time/clock.h"
#include "support/app_fixture.h"
#include "support/media_fixtures.h"

namespace {

using DirectRestreamTest = E2eTest;

TEST_F(DirectRestreamTest, LiveHttpSourceToRtmpAndATsRecording) {
    start_nginx();
    start_live();
    uint32_t id =
        add_and_run(workflow_options(nginx.http_url("live.m3u8"), nginx.rtmp_url("secretkey1")), {"--seconds", "20"});
    ASSERT_NE(id, 0u) << cli.output();
    ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();
    // A copy-only run never loads the video engines or the libraries under them.
    const std::string maps = read_file("/proc/" + std::to_string(cli.pid()) + "/maps");
    ASSERT_NE(maps.find("veltrona-cli"), std::string::npos);
    for (const char* library : {"veltrona-video", "libavcodec", "libpango"})
        EXPECT_EQ(maps.find(library), std::string::npos) << library << " is mapped";
    double streamed = wait_run_end(30, tick_ms());
    expect_states({"RESOLVING", "STREAMING", "STOPPED"});

    std::string flv = nginx.recording("secretkey1");
    expect_clean_flv(flv, "h264,aac");
    EXPECT_NEAR(probe_duration(flv), streamed, 1.5) << "streamed for " << streamed << " s";
    EXPECT_GE(recorded_segments(), 20u / 2 - 2);  // 2 s segments
    expect_log(id, {"Workflow started", "Native HLS/RTMP engine starting", "Workflow stopped"}, "secretkey1");
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
    std::string copy = install_with_ytdlp(
        tool_dir, fake_ytdlp_script(nginx.http_url("exp/live.m3u8"), 0, nginx.http_url("live.m3u8")));
    uint32_t id =
        add_and_run(workflow_options("https://www.youtube.com/watch?v=e2eExpiry", nginx.rtmp_url("renewed"), "youtube"),
                    {"--seconds", "30"}, program(copy));
    ASSERT_NE(id, 0u) << cli.output();
    ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000)) << cli.output();
    const uint64_t since = tick_ms();
    std::this_thread::sleep_for(std::chrono::seconds(8));
    write_file(flag, "");
    EXPECT_TRUE(cli.wait_for("resolving it again", 20000)) << cli.output();
    double streamed = wait_run_end(40, since);
    expect_states({"RESOLVING", "STREAMING", "STOPPED"});

    std::vector<std::string> flvs = files_with_suffix(nginx.record_dir, ".flv");
    ASSERT_EQ(flvs.size(), 1u) << "one publish: the connection was kept";
    expect_clean_flv(flvs[0], "h264,aac");
    // The timeline goes on one frame after the last tag: a pause in sending
    // shows as media missing against the wall clock.
    const double duration = probe_duration(flvs[0]);
    EXPECT_GT(duration, streamed - 2.0 - 1.5) << "a gap of more than a target duration; streamed " << streamed;
    EXPECT_LT(duration, streamed + 1.5);
    EXPECT_EQ(read_file(tool_dir + "/bin/tools/calls"), "2\n");
    expect_log(id, {"HTTP status 403", "YouTube source resolved again: fresh URL"});
}

}  // namespace
