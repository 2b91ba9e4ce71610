// The MP4 loop against a scripted server: one timeline across passes with
// B-frames intact, its status, a prompt stop, and its failures.
#include "engines/mp4_loop_engine.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <thread>

#include "engines/engines.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

using Error = std::array<char, ENGINE_ERROR_SIZE>;

bool is_sequence_header(const FakeRtmpMessage& m) {
    return m.payload.size() >= 2 && m.payload[1] == 0 &&
           ((m.type_id == 9 && m.payload[0] == 0x17) ||
            (m.type_id == 8 && (m.payload[0] & 0xF0) == 0xA0));
}

bool is_media(const FakeRtmpMessage& m) {
    return m.type_id == 8 || m.type_id == 9;
}

void accept_and_record(FakeRtmpPeer& peer) {
    if (!fake_rtmp_accept_publish(peer)) return;
    while (peer.read_message()) {
    }
}

void remember_status(void* context, const char* text) {
    *static_cast<std::string*>(context) = text;
}

struct LoopRun {
    Mp4LoopOptions options;
    Event stop_event;
    Error error{};
    int result = -1;
    std::string status;
    std::thread thread;

    void start() {
        options.stop_event = &stop_event;
        options.status = remember_status;
        options.status_context = &status;
        thread = std::thread([this] { result = mp4_loop_run(options, error); });
    }
    uint64_t stop() {
        uint64_t began = tick_ms();
        stop_event.set();
        thread.join();
        return tick_ms() - began;
    }
};

class Mp4LoopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        ok_ = make_test_mp4(dir_->file("one.mp4"), Mp4Fixture{.seconds = 1.0, .b_frames = 2}) &&
              make_test_mp4(dir_->file("ten.mp4"), Mp4Fixture{.seconds = 10.0});
    }
    static void TearDownTestSuite() { delete dir_; }
    void SetUp() override { ASSERT_TRUE(ok_) << "ffmpeg could not make the fixtures"; }

    static TempDir* dir_;
    static bool ok_;
};

TempDir* Mp4LoopTest::dir_ = nullptr;
bool Mp4LoopTest::ok_ = false;

TEST_F(Mp4LoopTest, PassesFollowOneAnotherOnOneTimelineWithTheirReordering) {
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(accept_and_record, 15000));
    LoopRun run;
    run.options.mp4_path = dir_->file("one.mp4");
    run.options.output_url = server.url();
    run.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(3300));
    run.stop();
    server.join();
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(error_view(run.error), "");
    EXPECT_EQ(run.status, "Looping MP4 without transcoding");

    // The fixture starts with video, so a pass opens with its AVC sequence
    // header; that comes one millisecond above everything before it, and no
    // kind of tag goes back.
    size_t passes = 0;
    uint32_t highest = 0;
    bool reordered = false;
    std::map<uint8_t, uint32_t> last_of_type;
    for (const FakeRtmpMessage& m : server.peer.messages) {
        if (!is_media(m)) continue;
        bool header = is_sequence_header(m);
        if (header && m.type_id == 9) {
            EXPECT_TRUE(passes == 0 || m.timestamp == highest + 1)
                << "pass " << passes << " at " << m.timestamp;
            ++passes;
        }
        if (m.type_id == 9 && !header && m.payload.size() >= 5) {
            reordered =
                reordered || (m.payload[2] | m.payload[3] | m.payload[4]) != 0;  // composition time
        }
        EXPECT_GE(m.timestamp, last_of_type[m.type_id]);
        last_of_type[m.type_id] = m.timestamp;
        highest = std::max(highest, m.timestamp);
    }
    EXPECT_GE(passes, 3u);
    EXPECT_TRUE(reordered);
}

TEST_F(Mp4LoopTest, StopDuringAPassEndsPromptlyWithSuccess) {
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(accept_and_record, 15000));
    LoopRun run;
    run.options.mp4_path = dir_->file("ten.mp4");
    run.options.output_url = server.url();
    run.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_LT(run.stop(), 600u);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(error_view(run.error), "");
}

TEST_F(Mp4LoopTest, FailuresEndTheRunWithTheirText) {
    TempDir dir;
    write_file(dir.file("empty.mp4"), "");
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(accept_and_record, 15000));
    Error error{};
    Event stop;
    EXPECT_EQ(mp4_loop_engine(dir.file("empty.mp4"), server.url(), nullptr, &stop, nullptr, nullptr,
                              error),
              0);
    EXPECT_EQ(error_view(error), "MP4 file cannot be opened");
    EXPECT_EQ(mp4_loop_engine(dir_->file("one.mp4"), "rtmp://host/app/\xFF", nullptr, &stop,
                              nullptr, nullptr, error),
              0);
    EXPECT_EQ(error_view(error), "RTMP URL conversion failed");
}

}  // namespace
