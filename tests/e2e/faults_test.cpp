// Faults seen from outside veltrona-cli: the RTMP server going away and
// coming back during a Direct Restream, and a stop (SIGTERM, as from Ctrl-C
// or a service manager) in each state a workflow can be in, a source that
// answers 404 among them. The pause before a retry is the runner test's.
#include <filesystem>
#include <thread>

#include "e2e/cli_driver.h"
#include "platform/clock.h"
#include "support/app_fixture.h"
#include "support/media_fixtures.h"

namespace {

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

using FaultsTest = E2eTest;

TEST_F(FaultsTest, RtmpServerGoesAwayAndComesBack) {
    start_nginx({.http = true});  // the source; the output is a server of its own
    start_live();
    TempDir output_dir;
    NginxServer output;
    ASSERT_TRUE(output.start(output_dir.path(), {.rtmp = true})) << read_file(output.error_log);
    uint32_t id = add_and_run(workflow_options(nginx.http_url("live.m3u8"), output.rtmp_url("secretkey2")));
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
    ASSERT_TRUE(cli.wait_for_state("STREAMING", 15000, *reconnecting)) << cli.output();
    sleep_ms(2000);
    EXPECT_EQ(standing_threads(cli.pid()), threads_before) << "threads left behind by the failed runs";
    stop_run();
    output.stop();

    std::vector<std::string> states = cli.states();
    EXPECT_TRUE(in_order(states, {"STREAMING", "RECONNECTING", "RESOLVING", "STREAMING", "STOPPED"})) << cli.output();
    EXPECT_EQ(std::count(states.begin(), states.end(), "ERROR"), 0);
    EXPECT_NE(cli.output().find("#" + std::to_string(id) + " last error: "), std::string::npos);
    EXPECT_EQ(cli.output().find("secretkey2"), std::string::npos) << "the stream key was printed";
    expect_log(id, {"Capture failed; restarting source automatically"}, "secretkey2");
    // Before the fault and after the return: two publishes, both real streams.
    std::vector<std::string> flvs = files_with_suffix(output.record_dir, ".flv");
    ASSERT_GE(flvs.size(), 2u);
    expect_clean_flv(flvs.front(), "h264,aac");
    expect_clean_flv(flvs.back(), "h264,aac");
}

// One workflow per state, each stopped with SIGTERM once settled in it. The
// one in RECONNECTING has a source that answers 404: its last error says so,
// and it neither published nor recorded.
TEST_F(FaultsTest, StopInEveryStateEndsPromptly) {
    start_nginx();
    std::filesystem::create_directories(nginx.www_dir + "/vod");
    ASSERT_EQ(run_command(ffmpeg_hls_command(nginx.www_dir + "/vod", 6.0, false), nullptr, 120), 0);
    start_live(2, 120);
    std::string upcoming = install_with_ytdlp(dir.file("upcoming"), fake_ytdlp_script("", 1 << 30));
    std::string live_now = install_with_ytdlp(dir.file("live"), fake_ytdlp_script(nginx.http_url("live.m3u8"), 0));
    std::vector<std::string> record = workflow_options("https://youtu.be/e2eStopTest", nginx.rtmp_url("s"), "youtube",
                                                       "record", {"--poll-seconds", "60"});
    auto direct = [&](const char* playlist, const char* stream = "s") {
        return workflow_options(nginx.http_url(playlist), nginx.rtmp_url(stream));
    };
    // `settled`: what the status shows once there (the loop publisher reports STREAMING while it plays).
    struct Case {
        const char* state;
        const char* settled;
        std::string program;
        std::vector<std::string> options;
    } cases[] = {
        {"WAITING", "WAITING", upcoming, record},
        {"RECORDING", "RECORDING", live_now, record},
        {"STREAMING", "STREAMING", cli_executable(), direct("live.m3u8")},
        {"RECONNECTING", "RECONNECTING", cli_executable(), direct("missing.m3u8", "never")},
        {"PLAYING", "STREAMING", cli_executable(), direct("vod/live.m3u8")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        data_dir = dir.file(std::string("data-") + c.state);
        uint32_t id = add_and_run(c.options, {}, program(c.program));
        ASSERT_NE(id, 0u);
        ASSERT_TRUE(cli.wait_for_state(c.state, 20000)) << cli.output();
        sleep_ms(1500);  // well inside the state: pacing, a ring wait, a poll or a pause
        ASSERT_EQ(cli.states().back(), c.settled) << cli.output();
        if (std::string_view(c.state) == "PLAYING") {  // a Direct Restream whose source ended goes on as a loop
            EXPECT_TRUE(in_order(cli.states(), {"STREAMING", "LIVE ENDED", "STARTING PLAYBACK", "PLAYING"}));
        }
        stop_run();
        EXPECT_EQ(cli.states().back(), "STOPPED") << cli.output();
        if (std::string_view(c.state) == "RECONNECTING") {
            EXPECT_NE(cli.output().find("#" + std::to_string(id) + " last error: "), std::string::npos);
            EXPECT_NE(cli.output().find("404"), std::string::npos) << "the last error does not say what was answered";
            EXPECT_EQ(nginx.recording("never"), "") << "the server was contacted";
            EXPECT_TRUE(files_with_suffix(data_dir + "/recordings", ".ts").empty());
        }
    }
}

}  // namespace
