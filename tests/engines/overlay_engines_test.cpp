// The overlay loop below the runner: one timeline across passes, each
// opening with its new encoder's headers one millisecond above the last tag
// of the pass before, as a scripted server sees it; the status that names
// the encoder; failure texts; a prompt stop without draining. (The live
// engine is judged end to end, in tests/e2e.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <thread>

#include "engines/engines.h"
#include "engines/overlay_router.h"
#include "engines/overlay_ts_loop_engine.h"
#include "platform/clock.h"
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

class OverlayEnginesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        fixtures_ = new TempDir();
        ok_ = make_test_ts(fixtures_->file("one.ts"), 1.0) &&
              make_test_ts(fixtures_->file("ten.ts"), 10.0);
    }
    static void TearDownTestSuite() { delete fixtures_; }
    void SetUp() override { ASSERT_TRUE(ok_) << "ffmpeg could not make the fixtures"; }

    static TempDir* fixtures_;
    static bool ok_;
};

TempDir* OverlayEnginesTest::fixtures_ = nullptr;
bool OverlayEnginesTest::ok_ = false;

TEST_F(OverlayEnginesTest, LoopPassesShareOneTimelineWithFreshHeadersEachPass) {
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 20000));
    // Edits saved while the loop runs must survive into the next pass's new pipeline.
    static std::atomic<uint32_t> revision{0};
    static int fetches = 0;
    OverlaySettings settings = ticker_settings();
    settings.revision = &revision;
    settings.fetch = [](void*, OverlaySettings* fresh) {
        ++fetches;
        *fresh = ticker_settings();
        fresh->text = "Edited";
    };
    EngineLoopRun<OverlayTsLoopOptions, overlay_ts_loop_run> run;
    run.options.recording_path = fixtures_->file("one.ts");
    run.options.output_url = server.url();
    run.options.settings = settings;
    run.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    uint64_t took = run.stop();
    server.join();
    std::printf("overlay loop stopped %llu ms after the stop event\n",
                static_cast<unsigned long long>(took));
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(error_view(run.error), "");
    EXPECT_THAT(run.status, ::testing::StartsWith("Overlay TS loop playing; video encoder: "));

    size_t passes = 0;
    uint32_t highest = 0;
    std::map<uint8_t, uint32_t> last_of_type;
    for (const FakeRtmpMessage& m : server.peer.messages) {
        if (m.type_id != 8 && m.type_id != 9) continue;
        if (m.type_id == 9 &&
            is_sequence_header(m)) {  // each pass opens with its encoder's AVC header
            EXPECT_TRUE(passes == 0 || m.timestamp == highest + 1)
                << "pass " << passes << " at " << m.timestamp;
            ++passes;
        }
        EXPECT_GE(m.timestamp, last_of_type[m.type_id]);
        last_of_type[m.type_id] = m.timestamp;
        highest = std::max(highest, m.timestamp);
    }
    EXPECT_GE(passes, 3u);
    EXPECT_GE(fetches,
              static_cast<int>(passes));  // each pass starts from the settings as they are now
}

TEST_F(OverlayEnginesTest, LoopFailuresEndTheRunWithTheirText) {
    TempDir dir;
    std::string null_packets;
    for (int i = 0; i < 100; ++i)
        null_packets += std::string("\x47\x1F\xFF\x10", 4) + std::string(184, '\xFF');
    write_file(dir.file("empty-program.ts"), null_packets);
    struct Case {
        std::string path, message;
    };
    for (const Case& c :
         {Case{dir.file("missing.ts"), "TS recording cannot be opened"},
          Case{dir.file("empty-program.ts"), "recording holds no playable audio or video"}}) {
        FakeRtmpServer server;
        ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 15000));
        Error error{};
        Event stop;
        EXPECT_EQ(overlay_ts_loop_engine(c.path, server.url(), ticker_settings(), &stop, nullptr,
                                         nullptr, error),
                  0);
        EXPECT_EQ(error_view(error), c.message);
    }
    Error error{};
    Event stop;
    EXPECT_EQ(overlay_ts_loop_engine(fixtures_->file("one.ts"), "rtmp://host/app/\xFF",
                                     ticker_settings(), &stop, nullptr, nullptr, error),
              0);
    EXPECT_EQ(error_view(error), "RTMP URL conversion failed");
    EXPECT_EQ(overlay_stream_engine("http://127.0.0.1:1/\xFF", "rtmp://127.0.0.1:1/app/k", "",
                                    ticker_settings(), &stop, nullptr, nullptr, error),
              0);
    EXPECT_EQ(error_view(error), "URL conversion failed");
}

// A video PES without payload has nothing to decode: passed over, where the
// pipeline would refuse it and fail the whole run without a word.
TEST_F(OverlayEnginesTest, EmptyVideoUnitsArePassedOver) {
    PublishContext publish;
    Error error{};
    OverlayRouterContext router{&publish, nullptr, error, nullptr, nullptr, "", {}};
    EXPECT_EQ(overlay_demux_router(&router, ES_VIDEO, {}, 0, 0), 1);
    EXPECT_EQ(error_view(error), "");
}

}  // namespace
