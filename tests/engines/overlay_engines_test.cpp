// The overlay loop below the runner, as a scripted server sees it: each pass
// opens with its new encoder's headers one millisecond above the last tag of
// the pass before; failure texts; a prompt stop. (The live engine is judged
// end to end, in tests/e2e.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "engines/engines.h"
#include "engines/overlay_router.h"
#include "engines/overlay_ts_loop_engine.h"
#include "platform/error_text.h"
#include "support/engine_loop_run.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

using Error = std::array<char, ENGINE_ERROR_SIZE>;

OverlaySettings ticker_settings() {
    OverlaySettings settings;
    settings.text_enabled = 1;
    settings.text = "Overlay test";
    settings.font_size = 20;
    settings.scroll_speed = 50;
    settings.text_color = 0xFFFFFF;
    settings.bitrate = 1000000;
    return settings;
}

TEST(OverlayEnginesTest, LoopPassesShareOneTimelineWithFreshHeadersEachPass) {
    TempDir dir;
    ASSERT_TRUE(make_clip(dir.file("one.ts"), {.seconds = 1.0})) << "ffmpeg could not make the fixture";
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 20000));
    // Each pass builds its pipeline from the settings as they are then.
    static std::atomic<uint32_t> revision{0};
    static int fetches = 0;
    EngineLoopRun<OverlayTsLoopOptions, overlay_ts_loop_run> run;
    run.options.recording_path = dir.file("one.ts");
    run.options.output_url = server.url();
    run.options.settings = ticker_settings();
    run.options.settings.revision = &revision;
    run.options.settings.fetch = [](void*, OverlaySettings* fresh) {
        ++fetches;
        *fresh = ticker_settings();
    };
    run.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    uint64_t took = run.stop();
    server.join();
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(error_view(run.error), "");
    EXPECT_THAT(run.status, ::testing::StartsWith("Overlay TS loop playing; video encoder: "));

    const size_t passes = check_loop_passes(server.peer.messages);
    EXPECT_GE(passes, 3u);
    EXPECT_GE(fetches, static_cast<int>(passes));
}

TEST(OverlayEnginesTest, LoopFailuresEndTheRunWithTheirText) {
    TempDir dir;
    std::string null_packets;
    for (int i = 0; i < 100; ++i) null_packets += std::string("\x47\x1F\xFF\x10", 4) + std::string(184, '\xFF');
    write_file(dir.file("empty-program.ts"), null_packets);
    auto loop_error = [](const std::string& path, const std::string& url) {
        Error error{};
        Event stop;
        EXPECT_EQ(overlay_ts_loop_engine(path, url, ticker_settings(), &stop, nullptr, nullptr, error), 0);
        return std::string(error_view(error));
    };
    for (auto [name, text] : {std::pair{"missing.ts", "TS recording cannot be opened"},
                              {"empty-program.ts", "recording holds no playable audio or video"}}) {
        FakeRtmpServer server;  // both connect before their first pass
        ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 15000));
        EXPECT_EQ(loop_error(dir.file(name), server.url()), text);
    }
    EXPECT_EQ(loop_error(dir.file("missing.ts"), "rtmp://host/app/\xFF"), "RTMP URL conversion failed");
    Error error{};
    Event stop;
    EXPECT_EQ(overlay_stream_engine("http://127.0.0.1:1/\xFF", "rtmp://127.0.0.1:1/app/k", "", ticker_settings(), &stop,
                                    nullptr, nullptr, EngineHooks{}, error),
              0);
    EXPECT_EQ(error_view(error), "URL conversion failed");
}

// A video PES without payload has nothing to decode: passed over, where the
// pipeline would refuse it and fail the whole run without a word.
TEST(OverlayEnginesTest, EmptyVideoUnitsArePassedOver) {
    PublishContext publish;
    Error error{};
    OverlayRouterContext router{&publish, nullptr, error, nullptr, nullptr, "", {}};
    EXPECT_EQ(overlay_demux_router(&router, ES_VIDEO, {}, 0, 0), 1);
    EXPECT_EQ(error_view(error), "");
}

}  // namespace
