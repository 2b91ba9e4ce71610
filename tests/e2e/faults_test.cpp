// Faults seen from outside veltrona-cli: the RTMP server going away and
// coming back during a Direct Restream, a source that answers 404, and a
// stop (SIGTERM, as from Ctrl-C or a service manager) in each state a
// workflow can be in. The measured figures are printed for the record;
// the bounds asserted are generous, since the machine is shared.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t STOP_LIMIT_MS = 2000;

bool exited_cleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// The fewest threads seen over `ms`: segment fetches come and go, the
// standing threads (main, runner, downloader) stay.
unsigned standing_threads(pid_t pid, uint32_t ms) {
    unsigned fewest = ~0u;
    for (uint64_t end = tick_ms() + ms; tick_ms() < end;) {
        fewest = std::min(fewest, thread_count(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fewest;
}

void sleep_s(int seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); }

std::vector<std::string> direct_options(const std::string& source, const std::string& output) {
    return {"--type", "direct", "--source-type", "direct", "--name", "Faults", "--source", source, "--output", output};
}

TEST(FaultsTest, RtmpServerGoesAwayAndComesBack) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("source"));
    std::filesystem::create_directories(dir.file("output"));
    NginxServer source, output;
    NginxOptions http_only, rtmp_only;
    http_only.http = true;
    rtmp_only.rtmp = true;
    ASSERT_TRUE(source.start(dir.file("source"), http_only)) << read_file(source.error_log);
    ASSERT_TRUE(output.start(dir.file("output"), rtmp_only)) << read_file(output.error_log);
    LiveHls live;
    ASSERT_TRUE(live.start(source.www_dir, 90));
    ASSERT_TRUE(live.wait_for_segments(2, 20000));
    std::string data_dir = dir.file("data");
    uint32_t id = cli_add(data_dir, direct_options(source.http_url("live.m3u8"), output.rtmp_url("secretkey2")));
    ASSERT_NE(id, 0u);

    CliProcess cli;
    ASSERT_TRUE(cli.start(cli_executable(), data_dir, {std::to_string(id)}));
    std::optional<size_t> streaming = cli.wait_for_state("STREAMING", 15000);
    ASSERT_TRUE(streaming) << cli.output();
    sleep_s(2);
    unsigned threads_before = standing_threads(cli.pid(), 1000);

    output.stop();
    std::optional<size_t> reconnecting = cli.wait_for_state("RECONNECTING", 10000, *streaming);
    ASSERT_TRUE(reconnecting) << cli.output();
    sleep_s(3);  // at least one attempt meets a closed port
    ASSERT_TRUE(output.restart()) << read_file(output.error_log);
    uint64_t back_at = tick_ms();
    std::optional<size_t> again = cli.wait_for_state("STREAMING", 15000, *reconnecting);
    ASSERT_TRUE(again) << cli.output();
    uint64_t back_after = tick_ms() - back_at;
    std::printf("streaming again %llu ms after the server came back\n", static_cast<unsigned long long>(back_after));
    EXPECT_LT(back_after, 5500u) << cli.output();

    sleep_s(2);
    unsigned threads_after = standing_threads(cli.pid(), 1000);
    EXPECT_EQ(threads_after, threads_before) << "threads left behind by the failed runs";
    uint64_t took = 0;
    EXPECT_TRUE(exited_cleanly(cli.terminate(STOP_LIMIT_MS, &took))) << cli.output();
    EXPECT_LT(took, STOP_LIMIT_MS);
    output.stop();

    std::vector<std::string> states = cli.states();
    EXPECT_TRUE(in_order(states, {"STREAMING", "RECONNECTING", "RESOLVING", "STREAMING", "STOPPED"}))
        << cli.output();
    EXPECT_EQ(std::count(states.begin(), states.end(), "ERROR"), 0);
    EXPECT_NE(cli.output().find("#" + std::to_string(id) + " last error: "), std::string::npos);
    EXPECT_EQ(cli.output().find("secretkey2"), std::string::npos) << "the stream key was printed";
    std::string log = read_file(data_dir + "/logs/workflow-" + std::to_string(id) + ".log");
    EXPECT_NE(log.find("Capture failed; restarting source automatically"), std::string::npos) << log;
    EXPECT_EQ(log.find("secretkey2"), std::string::npos) << "the stream key reached the log";

    // Before the fault and after the return: two publishes, both real streams.
    std::vector<std::string> flvs = files_with_suffix(output.record_dir, ".flv");
    ASSERT_GE(flvs.size(), 2u);
    for (const std::string& flv : {flvs.front(), flvs.back()}) {
        EXPECT_EQ(probe_codecs(flv), "h264,aac") << flv;
        EXPECT_TRUE(never_goes_back(probe_dts(flv, 'v'))) << flv;
    }
}

TEST(FaultsTest, MissingSourceFailsAndIsRetriedAfterThreeSeconds) {
    TempDir dir;
    NginxServer nginx;
    NginxOptions options;
    options.rtmp = options.http = true;
    ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
    std::string data_dir = dir.file("data");
    uint32_t id = cli_add(data_dir, direct_options(nginx.http_url("missing.m3u8"), nginx.rtmp_url("never")));
    ASSERT_NE(id, 0u);

    // Each attempt: the downloader tries the playlist five times, 1 s apart,
    // then the engine fails; the runner pauses 3 s before the next attempt.
    CliProcess cli;
    ASSERT_TRUE(cli.start(cli_executable(), data_dir, {std::to_string(id)}));
    std::optional<size_t> failed = cli.wait_for_state("RECONNECTING", 10000);
    ASSERT_TRUE(failed) << cli.output();
    uint64_t failed_at = tick_ms();
    std::optional<size_t> retried = cli.wait_for_state("RESOLVING", 6000, *failed);
    ASSERT_TRUE(retried) << cli.output();
    uint64_t retried_at = tick_ms();
    std::optional<size_t> failed_again = cli.wait_for_state("RECONNECTING", 10000, *retried);
    ASSERT_TRUE(failed_again) << cli.output();
    uint64_t failed_again_at = tick_ms();
    uint64_t took = 0;
    EXPECT_TRUE(exited_cleanly(cli.terminate(STOP_LIMIT_MS, &took))) << cli.output();

    std::printf("404 source: retried %llu ms after the failure; the attempt failed after %llu ms\n",
                static_cast<unsigned long long>(retried_at - failed_at),
                static_cast<unsigned long long>(failed_again_at - retried_at));
    EXPECT_GE(retried_at - failed_at, 2900u);
    EXPECT_LE(retried_at - failed_at, 3800u);
    EXPECT_GE(failed_again_at - retried_at, 3500u);
    EXPECT_LE(failed_again_at - retried_at, 6500u);
    std::string out = cli.output();
    EXPECT_NE(out.find("#" + std::to_string(id) + " last error: "), std::string::npos) << out;
    EXPECT_NE(out.find("404"), std::string::npos) << "the last error does not say what the server answered:\n" << out;
    EXPECT_TRUE(files_with_suffix(nginx.record_dir, ".flv").empty()) << "the server was contacted";
    EXPECT_TRUE(files_with_suffix(data_dir + "/recordings", ".ts").empty());
}

// One workflow per state, each stopped with SIGTERM once it is settled in
// that state; the time from the signal to the process's exit is printed.
TEST(FaultsTest, StopInEveryStateEndsPromptly) {
    TempDir dir;
    NginxServer nginx;
    NginxOptions options;
    options.rtmp = options.http = true;
    ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
    std::filesystem::create_directories(nginx.www_dir + "/vod");
    ASSERT_EQ(run_command(ffmpeg_hls_command(nginx.www_dir + "/vod", 6.0, false), nullptr, 120), 0);
    LiveHls live;
    ASSERT_TRUE(live.start(nginx.www_dir, 120));
    ASSERT_TRUE(live.wait_for_segments(2, 20000));
    std::string upcoming = install_program_with_ytdlp(dir.file("upcoming"), fake_ytdlp_script("", 1 << 30));
    std::string live_now = install_program_with_ytdlp(dir.file("live"), fake_ytdlp_script(nginx.http_url("live.m3u8"), 0));
    std::vector<std::string> record = {"--type", "record", "--source-type", "youtube", "--name", "Stop", "--source",
                                       "https://youtu.be/e2eStopTest", "--output", nginx.rtmp_url("s"),
                                       "--poll-seconds", "60"};
    // `settled`: what the status shows once there (the loop publisher reports
    // STREAMING while it plays).
    struct Case {
        const char* state;
        const char* settled;
        std::string program;
        std::vector<std::string> options;
    } cases[] = {
        {"WAITING", "WAITING", upcoming, record},
        {"RECORDING", "RECORDING", live_now, record},
        {"STREAMING", "STREAMING", cli_executable(), direct_options(nginx.http_url("live.m3u8"), nginx.rtmp_url("s"))},
        {"RECONNECTING", "RECONNECTING", cli_executable(), direct_options(nginx.http_url("missing.m3u8"), nginx.rtmp_url("s"))},
        {"PLAYING", "STREAMING", cli_executable(), direct_options(nginx.http_url("vod/live.m3u8"), nginx.rtmp_url("s"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        std::string data_dir = dir.file(std::string("data-") + c.state);
        uint32_t id = cli_add(data_dir, c.options);
        ASSERT_NE(id, 0u);
        CliProcess cli;
        ASSERT_TRUE(cli.start(c.program, data_dir, {std::to_string(id)}));
        ASSERT_TRUE(cli.wait_for_state(c.state, 20000)) << cli.output();
        // Well inside the state: pacing, a ring wait, a poll or a pause.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(cli.states().back(), c.settled) << cli.output();
        uint64_t took = 0;
        EXPECT_TRUE(exited_cleanly(cli.terminate(STOP_LIMIT_MS, &took))) << cli.output();
        std::printf("stop during %s: exit %llu ms after SIGTERM\n", c.state, static_cast<unsigned long long>(took));
        EXPECT_LT(took, STOP_LIMIT_MS);
        EXPECT_EQ(cli.states().back(), "STOPPED") << cli.output();
    }
}

}  // namespace
