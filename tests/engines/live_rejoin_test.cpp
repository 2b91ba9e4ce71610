// A capture attempt after a reconnect joins the source after what the run's
// earlier attempts recorded. On a finished playlist recorded to its end the
// source has ended: nothing is fetched or published again, and the engine
// says so (1), so the run goes on to loop its recording instead of retrying
// for ever. The recorder appends only the new segment and adds it to the run.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "engines/engines.h"
#include "net/hls_downloader.h"
#include "support/scripted_http_server.h"
#include "support/temp_dir.h"

TEST(LiveRejoinThreads, AnAttemptJoinsAfterWhatTheRunRecorded) {
    ScriptedHttpServer origin;
    ASSERT_TRUE(origin.start());
    origin.set_reply("/index.m3u8", http_reply(200,
                                               "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:7\n"
                                               "#EXTINF:2.0,\ns7.ts\n#EXTINF:2.0,\ns8.ts\n#EXT-X-ENDLIST\n"));
    origin.put("/s8.ts", std::string(188, 'G'));
    TempDir dir;
    for (bool recorder : {false, true}) {
        SCOPED_TRACE(recorder ? "recorder" : "restream");
        HlsSegmentHistory recorded;
        hls_history_add(&recorded, SegmentLabel{7, origin.url("/s7.ts"), false});
        if (!recorder) hls_history_add(&recorded, SegmentLabel{8, origin.url("/s8.ts"), false});
        Event stop;
        const EngineRun run{.stop_event = &stop, .hooks = {.recorded = &recorded}};
        std::array<char, ENGINE_ERROR_SIZE> error{};
        const std::string source = origin.url("/index.m3u8"), recording = dir.file("run.ts");
        // Nothing listens at the output: reaching it would fail the attempt.
        EngineResult result = recorder ? hls_to_ts_recorder({source, recording}, run, error)
                                       : hls_to_rtmp_engine({source, "rtmp://127.0.0.1:1/live/key", ""}, run, error);
        EXPECT_EQ(result, EngineResult::done) << error.data();
        EXPECT_STREQ(error.data(), "");
        EXPECT_EQ(origin.request_count("/s7.ts"), 0);
        EXPECT_EQ(recorded.segments.size(), 2u);
    }
    EXPECT_EQ(read_file(dir.file("run.ts")), std::string(188, 'G'));  // s8 once, by the recorder
    EXPECT_EQ(origin.request_count("/s8.ts"), 1);
}
