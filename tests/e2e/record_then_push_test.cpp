// Record then Push through the real veltrona-cli with a stand-in yt-dlp
// beside a copy of the executable: the page is "upcoming" for two calls,
// then live at a local HLS stream. The workflow waits, records the live to
// TS, and when the live ends publishes the recording to nginx-rtmp in a loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "e2e/cli_driver.h"
#include "support/media_fixtures.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace {

constexpr int UPCOMING_CALLS = 2;
constexpr size_t POLL_SECONDS_FIELD = 22;

TEST(RecordThenPushTest, WaitsRecordsTheLiveAndLoopsItWhenTheLiveEnds) {
    TempDir dir;
    NginxServer nginx;
    NginxOptions options;
    options.rtmp = options.http = true;
    ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
    LiveHls live;
    ASSERT_TRUE(live.start(nginx.www_dir, 90));
    ASSERT_TRUE(live.wait_for_segments(1, 20000));

    std::string program =
        install_program_with_ytdlp(dir.path(), fake_ytdlp_script(nginx.http_url("live.m3u8"), UPCOMING_CALLS));
    std::string data_dir = dir.file("data");
    uint32_t id = cli_add(data_dir, {"--type", "record", "--source-type", "youtube", "--name", "Premiere", "--source",
                                     "https://www.youtube.com/watch?v=e2eLiveTest", "--output",
                                     nginx.rtmp_url("pushed"), "--poll-seconds", "5"});
    ASSERT_NE(id, 0u);
    // One-second polls keep the test short; the editor allows no less than 5.
    ASSERT_TRUE(config_set_field(data_dir, id, POLL_SECONDS_FIELD, "1"));

    CliProcess cli;
    ASSERT_TRUE(cli.start(program, data_dir, {std::to_string(id)}));
    ASSERT_TRUE(cli.wait_for_state("RECORDING", 20000)) << cli.output();
    std::this_thread::sleep_for(std::chrono::seconds(6));
    live.end();
    ASSERT_TRUE(cli.wait_for_state("PLAYING", 20000)) << cli.output();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    uint64_t took = 0;
    EXPECT_EQ(cli.terminate(2000, &took), 0) << cli.output();
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
    EXPECT_EQ(first + count, segment_files_in_order(nginx.www_dir).size()) << "the last segments are missing";
    EXPECT_GT(probe_duration(recording), 5.0);

    // Only the loop published: nothing went out while recording.
    std::vector<std::string> flvs = files_with_suffix(nginx.record_dir, ".flv");
    ASSERT_EQ(flvs.size(), 1u);
    EXPECT_EQ(probe_codecs(flvs[0]), "h264,aac");
    EXPECT_GT(probe_duration(flvs[0]), 4.0);
    EXPECT_TRUE(never_goes_back(probe_dts(flvs[0], 'v')));
    EXPECT_TRUE(never_goes_back(probe_dts(flvs[0], 'a')));

    std::string log = read_file(data_dir + "/logs/workflow-" + std::to_string(id) + ".log");
    for (const char* line :
         {"Native HLS to TS recording starting", "Native TS to RTMP continuous loop starting", "Workflow stopped"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " missing from:\n" << log;
    }
}

}  // namespace
