// The MP4 loop against a scripted server: one timeline across passes with
// B-frames intact, with overlays, its status and a prompt stop (its
// failures are shown on the units below it).
#include "engines/mp4_loop_engine.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "platform/error_text.h"
#include "support/engine_loop_run.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

bool is_media(const FakeRtmpMessage& m) {
    return m.type_id == 8 || m.type_id == 9;
}

using LoopRun = EngineLoopRun<Mp4LoopOptions, mp4_loop_run>;

// Checks one timeline over the passes seen; their number. Each pass sends
// one AAC and one AVC sequence header: the first of the two opens the pass
// and comes one millisecond above everything sent before it; no kind of tag
// ever goes back.
size_t check_timeline(const std::vector<FakeRtmpMessage>& messages) {
    size_t passes = 0;
    uint32_t highest = 0;
    std::map<uint8_t, uint32_t> last_of_type, headers_of_type;
    for (const FakeRtmpMessage& m : messages) {
        if (!is_media(m)) continue;
        if (is_sequence_header(m)) {
            uint8_t other = m.type_id == 8 ? 9 : 8;
            if (headers_of_type[m.type_id]++ == headers_of_type[other]) {
                EXPECT_TRUE(passes == 0 || m.timestamp == highest + 1)
                    << "pass " << passes << " at " << m.timestamp;
                ++passes;
            }
        }
        EXPECT_GE(m.timestamp, last_of_type[m.type_id]);
        last_of_type[m.type_id] = m.timestamp;
        highest = std::max(highest, m.timestamp);
    }
    return passes;
}

class Mp4LoopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        ok_ = make_test_mp4(dir_->file("one.mp4"), Mp4Fixture{.seconds = 1.0, .b_frames = 2});
    }
    static void TearDownTestSuite() { delete dir_; }
    void SetUp() override { ASSERT_TRUE(ok_) << "ffmpeg could not make the fixtures"; }

    // Loops one.mp4 to a scripted server for 3.3 s, then stops (inside the
    // fourth pass), which must take effect promptly; the server holds what
    // it received.
    static void loop_for_a_while(LoopRun& run, FakeRtmpServer& server) {
        ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 20000));
        run.options.mp4_path = dir_->file("one.mp4");
        run.options.output_url = server.url();
        run.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(3300));
        EXPECT_LT(run.stop(), 600u);
        server.join();
    }

    static TempDir* dir_;
    static bool ok_;
};

TempDir* Mp4LoopTest::dir_ = nullptr;
bool Mp4LoopTest::ok_ = false;

TEST_F(Mp4LoopTest, PassesFollowOneAnotherOnOneTimelineWithTheirReordering) {
    FakeRtmpServer server;
    LoopRun run;
    loop_for_a_while(run, server);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(error_view(run.error), "");
    EXPECT_EQ(run.status, "Looping MP4 without transcoding");

    EXPECT_GE(check_timeline(server.peer.messages), 3u);
    bool reordered = false;
    for (const FakeRtmpMessage& m : server.peer.messages) {
        if (m.type_id == 9 && !is_sequence_header(m) && m.payload.size() >= 5) {
            reordered =
                reordered || (m.payload[2] | m.payload[3] | m.payload[4]) != 0;  // composition time
        }
    }
    EXPECT_TRUE(reordered);
}

// Overlay settings a workflow could hold: a ticker (and a picture when given).
OverlaySettings overlay_settings(const std::string& image) {
    OverlaySettings settings;
    settings.text_enabled = 1;
    settings.text = "Looping with a ticker";
    settings.text_bottom_pct = 10;
    settings.font_size = 20;
    settings.scroll_speed = 4;
    settings.text_color = 0x00FFFFFF;
    settings.background_color = 0x00FF0000;
    settings.image_enabled = image.empty() ? 0 : 1;
    settings.image_path = image;
    settings.image_scale_pct = 20;
    settings.bitrate = 500000;
    settings.encoder = "Software H.264";
    return settings;
}

TEST_F(Mp4LoopTest, OverlayPassesGoThroughThePipelineOnTheSameTimeline) {
    FakeRtmpServer server;
    // The workflow's side: every fetch hands out the values saved last.
    struct Saved {
        std::atomic<uint32_t> revision{1};
        int fetches = 0;
    } saved;
    OverlaySettings settings = overlay_settings("");
    settings.revision = &saved.revision;
    settings.fetch_context = &saved;
    settings.fetch = [](void* context, OverlaySettings* fresh) {
        auto& saved = *static_cast<Saved*>(context);
        ++saved.fetches;
        *fresh = overlay_settings("");  // the values only: the caller keeps its hooks
    };
    LoopRun run;
    run.options.settings = &settings;
    loop_for_a_while(run, server);
    EXPECT_EQ(run.result, 1) << error_view(run.error);
    EXPECT_EQ(run.status, "Looping MP4 with hardware overlays; video encoder: libx264 (software)");
    size_t passes = check_timeline(server.peer.messages);
    EXPECT_GE(passes, 2u);
    // Each pass starts from the values saved by then, not from those of the run's start.
    EXPECT_GE(saved.fetches, static_cast<int>(passes) - 1);
    // The encoder makes no B-frames: every video tag's composition time is 0.
    for (const FakeRtmpMessage& m : server.peer.messages) {
        if (m.type_id == 9 && !is_sequence_header(m) && m.payload.size() >= 5) {
            EXPECT_EQ(m.payload[2] | m.payload[3] | m.payload[4], 0);
        }
    }
}

}  // namespace
