// Faults seen from outside veltrona-cli: the RTMP server going away and
// coming back during a Direct Restream, a source that answers 404, and a
// stop (SIGTERM, as from Ctrl-C or a service manager) in each state a
// workflow can be in. Measured figures are printed for the record; the
// bounds asserted are generous, since the machine is shared.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/app_fixture.h"
#include "support/media_fixtures.h"

namespace {

constexpr uint32_t STOP_LIMIT_MS = 2000;

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The fewest threads seen over a second: segment fetches come and go, the
// standing threads (main, runner, downloader) stay.
unsigned standing_threads(pid_t pid) {
    unsigned fewest = ~0u;
    for (uint64_t end = tick_ms() + 1000; tick_ms() < end; sleep_ms(20)) {
        std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
        size_t at = status.find("\nThreads:");
        fewest = std::min(fewest, at == std::string::npos ? 0u : unsigned(std::atoi(status.c_str() + at + 9)));
    }
    return fewest;
}

class FaultsTest : public E2eTest {
  protected:
    // SIGTERM ends the process cleanly within the limit.
    void stop(const char* during) {
        uint64_t took = 0;
        int status = cli.terminate(STOP_LIMIT_MS, &took);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cli.output();
        std::printf("stop during %s: exit %llu ms after SIGTERM\n", during, static_cast<unsigned long long>(took));
        EXPECT_LT(took, STOP_LIMIT_MS);
    }
    std::string last_error_line(uint32_t id) const { return "#" + std::to_string(id) + " last error: "; }
};

TEST_F(FaultsTest, RtmpServerGoesAwayAndComesBack) {
    start_nginx({.http = true});  // the source; the output is a server of its own
    start_live();
    TempDir output_dir;
    NginxServer output;
    ASSERT_TRUE(output.start(output_dir.path(), {.rtmp = true})) << read_file(output.error_log);
    uint32_t id = add_and_run(direct_workflow(nginx.http_url("live.m3u8"), output.rtmp_url("secretkey2")));
    ASSERT_NE(id, 0u);
    std::optional<size_t> streaming = cli.wait_for_state("STREAMING", 15000);
    ASSERT_TRUE(streaming) << cli.output();
    sleep_ms(2000);
    unsigned threads_before = standing_threads(cli.pid());

    output.stop();
    std::optional<size_t> reconnecting = cli.wait_for_state("RECONNECTING", 10000, *streaming);
    ASSERT_TRUE(reconnecting) << cli.output();
    sleep_ms(3000);  // at least one attempt meets a closed port
    ASSERT_TRUE(output.restart()) << read_file(output.error_log);
    uint64_t back_at = tick_ms();
    ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000, *reconnecting)) << cli.output();
    uint64_t back_after = tick_ms() - back_at;
    std::printf("streaming again %llu ms after the server came back\n", static_cast<unsigned long long>(back_after));
    EXPECT_LT(back_after, 5500u) << cli.output();

    sleep_ms(2000);
    EXPECT_EQ(standing_threads(cli.pid()), threads_before) << "threads left behind by the failed runs";
    stop("STREAMING after the return");
    output.stop();

    std::vector<std::string> states = cli.states();
    EXPECT_TRUE(in_order(states, {"STREAMING", "RECONNECTING", "RESOLVING", "STREAMING", "STOPPED"})) << cli.output();
    EXPECT_EQ(std::count(states.begin(), states.end(), "ERROR"), 0);
    EXPECT_NE(cli.output().find(last_error_line(id)), std::string::npos);
    EXPECT_EQ(cli.output().find("secretkey2"), std::string::npos) << "the stream key was printed";
    std::string log = workflow_log(id);
    EXPECT_NE(log.find("Capture failed; restarting source automatically"), std::string::npos) << log;
    EXPECT_EQ(log.find("secretkey2"), std::string::npos) << "the stream key reached the log";

    // Before the fault and after the return: two publishes, both real streams.
    std::vector<std::string> flvs = files_with_suffix(output.record_dir, ".flv");
    ASSERT_GE(flvs.size(), 2u);
    expect_clean_flv(flvs.front(), "h264,aac");
    expect_clean_flv(flvs.back(), "h264,aac");
}

// Each attempt: the downloader tries the playlist five times, 1 s apart,
// then the engine fails; the runner pauses 3 s before the next attempt.
TEST_F(FaultsTest, MissingSourceFailsAndIsRetriedAfterThreeSeconds) {
    start_nginx();
    uint32_t id = add_and_run(direct_workflow(nginx.http_url("missing.m3u8"), nginx.rtmp_url("never")));
    ASSERT_NE(id, 0u);
    std::optional<size_t> failed = cli.wait_for_state("RECONNECTING", 10000);
    ASSERT_TRUE(failed) << cli.output();
    uint64_t failed_at = tick_ms();
    std::optional<size_t> retried = cli.wait_for_state("RESOLVING", 6000, *failed);
    ASSERT_TRUE(retried) << cli.output();
    uint64_t retry_after = tick_ms() - failed_at;
    ASSERT_TRUE(cli.wait_for_state("RECONNECTING", 10000, *retried)) << cli.output();
    uint64_t attempt_took = tick_ms() - failed_at - retry_after;
    stop("RECONNECTING");

    std::printf("404 source: retried %llu ms after the failure; the attempt failed after %llu ms\n",
                static_cast<unsigned long long>(retry_after), static_cast<unsigned long long>(attempt_took));
    EXPECT_GE(retry_after, 2900u);
    EXPECT_LE(retry_after, 3800u);
    EXPECT_GE(attempt_took, 3500u);
    EXPECT_LE(attempt_took, 6500u);
    std::string out = cli.output();
    EXPECT_NE(out.find(last_error_line(id)), std::string::npos) << out;
    EXPECT_NE(out.find("404"), std::string::npos) << "the last error does not say what the server answered:\n" << out;
    EXPECT_TRUE(files_with_suffix(nginx.record_dir, ".flv").empty()) << "the server was contacted";
    EXPECT_TRUE(files_with_suffix(data_dir + "/recordings", ".ts").empty());
}

// One workflow per state, each stopped with SIGTERM once settled in it.
TEST_F(FaultsTest, StopInEveryStateEndsPromptly) {
    start_nginx();
    std::filesystem::create_directories(nginx.www_dir + "/vod");
    ASSERT_EQ(run_command(ffmpeg_hls_command(nginx.www_dir + "/vod", 6.0, false), nullptr, 120), 0);
    start_live(2, 120);
    std::string upcoming = install_with_ytdlp(dir.file("upcoming"), fake_ytdlp_script("", 1 << 30));
    std::string live_now = install_with_ytdlp(dir.file("live"), fake_ytdlp_script(nginx.http_url("live.m3u8"), 0));
    std::vector<std::string> record = {"--type",         "record",
                                       "--source-type",  "youtube",
                                       "--name",         "Stop",
                                       "--source",       "https://youtu.be/e2eStopTest",
                                       "--output",       nginx.rtmp_url("s"),
                                       "--poll-seconds", "60"};
    // `settled`: what the status shows once there (the loop publisher reports STREAMING while it plays).
    struct Case {
        const char* state;
        const char* settled;
        std::string program;
        std::vector<std::string> options;
    } cases[] = {
        {"WAITING", "WAITING", upcoming, record},
        {"RECORDING", "RECORDING", live_now, record},
        {"STREAMING", "STREAMING", cli_executable(), direct_workflow(nginx.http_url("live.m3u8"), nginx.rtmp_url("s"))},
        {"RECONNECTING", "RECONNECTING", cli_executable(),
         direct_workflow(nginx.http_url("missing.m3u8"), nginx.rtmp_url("s"))},
        {"PLAYING", "STREAMING", cli_executable(),
         direct_workflow(nginx.http_url("vod/live.m3u8"), nginx.rtmp_url("s"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        data_dir = dir.file(std::string("data-") + c.state);
        ASSERT_NE(add_and_run(c.options, {}, c.program), 0u);
        ASSERT_TRUE(cli.wait_for_state(c.state, 20000)) << cli.output();
        sleep_ms(1500);  // well inside the state: pacing, a ring wait, a poll or a pause
        ASSERT_EQ(cli.states().back(), c.settled) << cli.output();
        if (std::string_view(c.state) == "PLAYING") {  // a Direct Restream whose source ended goes on as a loop
            EXPECT_TRUE(in_order(cli.states(), {"STREAMING", "LIVE ENDED", "STARTING PLAYBACK", "PLAYING"}));
        }
        stop(c.state);
        EXPECT_EQ(cli.states().back(), "STOPPED") << cli.output();
    }
}

}  // namespace
