// The overlay loop below the runner, as a scripted server sees it: each pass
// opens with its new encoder's headers one millisecond above the last tag of
// the pass before, built from the settings as they are then. (Failure texts
// are in engine_failures_test; the live engine is judged end to end.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engines/overlay_router.h"
#include "engines/overlay_ts_loop_engine.h"
#include "platform/error_text.h"
#include "support/engine_loop_run.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

TEST(OverlayEnginesTest, LoopPassesShareOneTimelineWithFreshHeadersEachPass) {
    TempDir dir;
    ASSERT_TRUE(make_clip(dir.file("one.ts"), {.seconds = 1.0})) << "ffmpeg could not make the fixture";
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 20000));
    EngineLoopRun<OverlayTsLoopOptions, overlay_ts_loop_run> run;
    run.options.recording_path = dir.file("one.ts");
    run.options.output_url = server.url();
    fetch_ticker(nullptr, &run.options.settings);
    const std::atomic<uint32_t> revision{0};
    run.options.settings.revision = &revision;
    run.options.settings.fetch = fetch_ticker;
    ticker_fetches = 0;
    run.run_for(3500);
    server.join();
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(error_view(run.error), "");
    EXPECT_THAT(run.status, ::testing::StartsWith("Overlay TS loop playing; video encoder: "));
    const size_t passes = check_loop_passes(server.peer.messages).size();
    EXPECT_GE(passes, 3u);
    EXPECT_GE(ticker_fetches, static_cast<int>(passes));
}

// A video PES without payload has nothing to decode: passed over, where the
// pipeline would refuse it and fail the whole run without a word.
TEST(OverlayEnginesTest, EmptyVideoUnitsArePassedOver) {
    PublishContext publish;
    std::array<char, ENGINE_ERROR_SIZE> error{};
    OverlayRouterContext router{&publish, nullptr, error, nullptr, nullptr, "", {}};
    EXPECT_EQ(overlay_demux_router(&router, ES_VIDEO, {}, 0, 0), 1);
    EXPECT_EQ(error_view(error), "");
}

}  // namespace
