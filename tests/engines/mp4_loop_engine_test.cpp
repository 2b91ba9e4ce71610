// The MP4 loop against a scripted server, packet copy and overlay alike:
// passes go on, packet copy keeps the B-frames' composition times, and each
// overlay pass starts from the settings saved by then. (The timeline across
// passes is judged by nginx end to end, in tests/e2e; the units' failures
// are shown below it.)
#include "engines/mp4_loop_engine.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/error_text.h"
#include "support/engine_loop_run.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

bool has_composition_time(const FakeRtmpMessage& m) {
    return m.type_id == 9 && !is_sequence_header(m) && m.payload.size() >= 5 &&
           (m.payload[2] | m.payload[3] | m.payload[4]) != 0;
}

TEST(Mp4LoopTest, PassesGoOnWithCompositionTimesAndFreshSettings) {
    TempDir dir;
    ASSERT_TRUE(make_clip(dir.file("one.mp4"), {.seconds = 1.0, .b_frames = 2}));
    const std::atomic<uint32_t> revision{1};
    for (bool overlay : {false, true}) {
        SCOPED_TRACE(overlay ? "overlay" : "packet copy");
        OverlaySettings settings;
        fetch_ticker(nullptr, &settings);
        settings.revision = &revision;
        settings.fetch = fetch_ticker;
        ticker_fetches = 0;
        FakeRtmpServer server;
        ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 20000));
        EngineLoopRun<Mp4LoopOptions, mp4_loop_run> run;
        run.options.mp4_path = dir.file("one.mp4");
        run.options.output_url = server.url();
        if (overlay) run.options.settings = &settings;
        run.run_for(3300);  // into the fourth pass
        server.join();
        EXPECT_EQ(run.result, 1) << error_view(run.error);
        EXPECT_EQ(run.status, overlay ? "Looping MP4 with hardware overlays; video encoder: libx264 (software)"
                                      : "Looping MP4 without transcoding");
        const std::vector<FakeRtmpMessage>& sent = server.peer.messages;
        const auto passes =
            std::count_if(sent.begin(), sent.end(), [](auto& m) { return m.type_id == 9 && is_sequence_header(m); });
        EXPECT_GE(passes, overlay ? 2 : 3);
        if (overlay) {
            EXPECT_GE(ticker_fetches, passes - 1);
        } else {
            EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), has_composition_time));
        }
    }
}

}  // namespace
