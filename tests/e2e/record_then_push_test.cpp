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
    Program copy =
        program(install_with_ytdlp(dir.path(), fake_ytdlp_script(nginx.http_url("live.m3u8"), UPCOMING_CALLS)));
    uint32_t id =
        cli_add(copy, workflow_options("https://www.youtube.com/watch?v=e2eLiveTest", nginx.rtmp_url("pushed"),
                                       "youtube", "record", {"--poll-seconds", "5"}));
    ASSERT_NE(id, 0u);
    // One-second polls keep the test short; the editor allows no less than 5.
    ASSERT_TRUE(config_set_field(data_dir, id, POLL_SECONDS_FIELD, "1"));
    ASSERT_TRUE(cli.start(copy, data_dir, {std::to_string(id)}));
    ASSERT_TRUE(cli.wait_for_state("RECORDING", 20000)) << cli.output();
    std::this_thread::sleep_for(std::chrono::seconds(6));
    end_live();
    ASSERT_TRUE(cli.wait_for_state("PLAYING", 20000)) << cli.output();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    stop_run();
    nginx.stop();

    expect_states({"RESOLVING", "WAITING", "RESOLVING", "WAITING", "RESOLVING", "RECORDING", "LIVE ENDED",
                   "STARTING PLAYBACK", "PLAYING", "STOPPED"});
    std::vector<std::string> states = cli.states();
    EXPECT_EQ(std::count(states.begin(), states.end(), "WAITING"), UPCOMING_CALLS) << cli.output();
    EXPECT_EQ(read_file(dir.file("bin/tools/calls")), std::to_string(UPCOMING_CALLS + 1) + "\n");

    // The recording holds the live from where the program joined to its end.
    size_t first = 0, count = recorded_segments(&first);
    ASSERT_GT(count, 0u);
    EXPECT_EQ(first + count, segment_file_count()) << "the last segments are missing";
    EXPECT_GT(probe_duration(recording_ts()), 5.0);

    // Only the loop published: nothing went out while recording.
    std::vector<std::string> flvs = files_with_suffix(nginx.record_dir, ".flv");
    ASSERT_EQ(flvs.size(), 1u);
    expect_clean_flv(flvs[0], "h264,aac");
    EXPECT_GT(probe_duration(flvs[0]), 4.0);
    expect_log(
        id, {"Native HLS to TS recording starting", "Native TS to RTMP continuous loop starting", "Workflow stopped"});
}

}  // namespace
