// The loop engines below the runner, as a scripted server sees them. The
// overlay TS loop: each pass opens with its new encoder's headers one
// millisecond above the last tag of the pass before, built from the settings
// as they are then, and a damaged packet is reported. The MP4 loop, packet copy and overlay alike: passes go
// on, packet copy keeps the B-frames' composition times, and each overlay
// pass starts from the settings saved by then. (Failure texts are in
// engine_failures_test; the live engine and the MP4 timeline across passes
// are judged by nginx end to end, in tests/e2e.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "engines/engines.h"
#include "engines/overlay_router.h"
#include "platform/text/error_text.h"
#include "support/engine_loop_run.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

// Settings that fetch the ticker afresh at each pass, counting from 0.
void use_fetched_ticker(OverlaySettings* settings, const std::atomic<uint32_t>* revision) {
    fetch_ticker(nullptr, settings);
    settings->revision = revision;
    settings->fetch = fetch_ticker;
    ticker_fetches = 0;
}

TEST(OverlayEnginesTest, LoopPassesShareOneTimelineWithFreshHeadersEachPass) {
    TempDir dir;
    ASSERT_TRUE(make_clip(dir.file("one.ts"), {.seconds = 1.0})) << "ffmpeg could not make the fixture";
    std::string ts = read_file(dir.file("one.ts"));
    ts[(ts.size() / 188 / 2) * 188] = 0x00;  // the sync byte of a packet half-way in
    write_file(dir.file("one.ts"), ts);
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 20000));
    EngineLoopRun<OverlayTsLoopOptions, overlay_ts_loop_engine> run;
    TextLog notices;
    run.run.hooks = {.notice = TextLog::record, .context = &notices};
    run.options.recording_path = dir.file("one.ts"), run.options.output_url = server.url();
    const std::atomic<uint32_t> revision{0};
    use_fetched_ticker(&run.options.settings, &revision);
    run.run_for(3500);
    server.join();
    EXPECT_EQ(std::tuple(run.result, error_view(run.error)), std::tuple(EngineResult::stopped, ""));
    EXPECT_THAT(run.status, ::testing::StartsWith("Overlay TS loop playing; video encoder: "));
    const size_t passes = check_loop_passes(server.peer.messages).size();
    EXPECT_GE(passes, 3u);
    EXPECT_GE(ticker_fetches, static_cast<int>(passes));
    std::lock_guard guard(notices.lock);  // the damage is reported once per finished pass
    EXPECT_THAT(notices.texts, ::testing::Contains("MPEG-TS damaged: skipped 188 bytes to the next packet"));
}

// A video PES without payload has nothing to decode: passed over, where the
// pipeline would refuse it and fail the whole run without a word.
TEST(OverlayEnginesTest, EmptyVideoUnitsArePassedOver) {
    PublishContext publish;
    std::array<char, ENGINE_ERROR_SIZE> error{};
    OverlayRouterContext router{.publish = &publish, .error = error};
    EXPECT_EQ(overlay_demux_router(&router, ES_VIDEO, {}, 0, 0), 1);
    EXPECT_EQ(error_view(error), "");
}

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
        use_fetched_ticker(&settings, &revision);
        FakeRtmpServer server;
        ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 20000));
        EngineLoopRun<Mp4LoopOptions, mp4_loop_engine> run;
        run.options.mp4_path = dir.file("one.mp4"), run.options.output_url = server.url();
        if (overlay) run.options.settings = &settings;
        run.run_for(3300);  // into the fourth pass
        server.join();
        EXPECT_EQ(run.result, EngineResult::stopped) << error_view(run.error);
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
