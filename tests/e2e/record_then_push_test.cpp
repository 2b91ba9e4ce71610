// Record then Push through the real veltrona-cli with a stand-in yt-dlp
// beside a copy of the executable: the page is "upcoming" for two calls,
// then live at a local HLS stream. The workflow waits, records the live to
// TS, and when the live ends publishes the recording to nginx-rtmp in a loop.
#include <algorithm>
#include <thread>

#include "e2e/cli_driver.h"
#include "support/app_fixture.h"
#include "support/media_fixtures.h"

namespace {

constexpr int UPCOMING_CALLS = 2;
constexpr size_t POLL_SECONDS_FIELD = 22;

using RecordThenPushTest = E2eTest;

TEST_F(RecordThenPushTest, WaitsRecordsTheLiveAndLoopsItWhenTheLiveEnds) {
    start_nginx();
    start_live(1);
    std::string program =
        install_with_ytdlp(dir.path(), fake_ytdlp_script(nginx.http_url("live.m3u8"), UPCOMING_CALLS));
    uint32_t id = cli_add(this->program(program), {"--type", "record", "--source-type", "youtube", "--name", "Premiere",
                                                   "--source", "https://www.youtube.com/watch?v=e2eLiveTest",
                                                   "--output", nginx.rtmp_url("pushed"), "--poll-seconds", "5"});
    ASSERT_NE(id, 0u);
    // One-second polls keep the test short; the editor allows no less than 5.
    ASSERT_TRUE(config_set_field(data_dir, id, POLL_SECONDS_FIELD, "1"));
    ASSERT_TRUE(cli.start(this->program(program), data_dir, {std::to_string(id)}));
    ASSERT_TRUE(cli.wait_for_state("RECORDING", 20000)) << cli.output();
    std::this_thread::sleep_for(std::chrono::seconds(6));
    end_live();
    ASSERT_TRUE(cli.wait_for_state("PLAYING", 20000)) << cli.output();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_EQ(cli.terminate(2000), 0) << cli.output();
    nginx.stop();

    std::vector<std::string> states = cli.states();
    EXPECT_TRUE(in_order(states, {"RESOLVING", "WAITING", "RESOLVING", "WAITING", "RESOLVING", "RECORDING",
                                  "LIVE ENDED", "STARTING PLAYBACK", "PLAYING", "STOPPED"}))
        << cli.output();
    EXPECT_EQ(std::count(states.begin(), states.end(), "WAITING"), UPCOMING_CALLS) << cli.output();
    EXPECT_EQ(std::count(states.begin(), states.end(), "RECONNECTING"), 0) << cli.output();
    EXPECT_EQ(read_file(dir.file("bin/tools/calls")), std::to_string(UPCOMING_CALLS + 1) + "\n");

    // The recording holds the live from where the program joined to its end.
    std::string recording = only_file_with_suffix(data_dir + "/recordings", ".ts");
    size_t first = 0, count = 0;
    ASSERT_TRUE(is_contiguous_segment_run(recording, nginx.www_dir, &first, &count));
    EXPECT_EQ(first + count, segment_file_count(nginx.www_dir)) << "the last segments are missing";
    EXPECT_GT(probe_duration(recording), 5.0);

    // Only the loop published: nothing went out while recording.
    std::vector<std::string> flvs = files_with_suffix(nginx.record_dir, ".flv");
    ASSERT_EQ(flvs.size(), 1u);
    expect_clean_flv(flvs[0], "h264,aac");
    EXPECT_GT(probe_duration(flvs[0]), 4.0);
    std::string log = workflow_log(id);
    for (const char* line :
         {"Native HLS to TS recording starting", "Native TS to RTMP continuous loop starting", "Workflow stopped"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " missing from:\n" << log;
    }
}

}  // namespace
