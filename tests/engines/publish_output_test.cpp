// Several outputs: the bounded queue, the fan-out that lets one output fail
// while another joins at a key frame with the sequence headers first, and
// outputs kept connected from one attempt of a live run to the next.
#include "engines/publish_output.h"

#include <gtest/gtest.h>

#include "engines/publish_context.h"
#include "platform/time/clock.h"
#include "support/fake_rtmp_server.h"
#include "support/wait.h"

namespace {

const std::vector<uint8_t> VIDEO_HEADER{0x17, 0, 0, 0, 0}, AUDIO_HEADER{0xAF, 0, 0x12}, KEY_FRAME{0x17, 1, 0, 0, 0, 9},
    INTER_FRAME{0x27, 1, 0, 0, 0, 8}, AUDIO_FRAME{0xAF, 1, 7};

TEST(OutputQueue, HoldsAFewSecondsOfMediaOrSixteenMegabytes) {
    OutputQueue queue;
    const std::vector<uint8_t> body(1000);
    EXPECT_TRUE(output_queue_push(queue, {RTMP_TYPE_VIDEO, 0xFFFFFF00u, body}));
    EXPECT_TRUE(output_queue_push(queue, {RTMP_TYPE_AUDIO, 0xFFFFFF00u + 3000, body}));  // wrapped, 3 s on
    EXPECT_FALSE(output_queue_push(queue, {RTMP_TYPE_VIDEO, 0xFFFFFF00u + 3001, body}));
    OutputQueue big;
    const std::vector<uint8_t> megabyte(size_t{1} << 20);
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(output_queue_push(big, {RTMP_TYPE_VIDEO, 0, megabyte}));
    EXPECT_FALSE(output_queue_push(big, {RTMP_TYPE_AUDIO, 0, {AUDIO_FRAME}}));
}

struct Reports {
    std::mutex lock;
    std::vector<OutputStatus> seen;
    static void record(void* context, const OutputStatus& status) {
        auto& self = *static_cast<Reports*>(context);
        std::lock_guard guard(self.lock);
        self.seen.push_back(status);
    }
};

TEST(PublishOutputThreads, AnOutputThatFailsLeavesTheOtherWhichJoinsAtAKeyFrame) {
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 10000));
    Reports reports;
    char error[256] = {};
    {
        PublishOutput output;
        const std::string urls[] = {"rtmp://127.0.0.1:1/live/refused", server.url()};
        const size_t numbers[] = {2, 4};  // their places among the workflow's outputs
        ASSERT_TRUE(output_open(output, urls, nullptr, {Reports::record, &reports}, numbers, error)) << error;
        // Everything before the key frame is held back; the headers come first, at its time.
        const RtmpMediaMessage batch[] = {{RTMP_TYPE_VIDEO, 0, VIDEO_HEADER}, {RTMP_TYPE_AUDIO, 0, AUDIO_HEADER},
                                          {RTMP_TYPE_VIDEO, 20, INTER_FRAME}, {RTMP_TYPE_AUDIO, 25, AUDIO_FRAME},
                                          {RTMP_TYPE_VIDEO, 40, KEY_FRAME},   {RTMP_TYPE_AUDIO, 45, AUDIO_FRAME}};
        EXPECT_TRUE(output_send_batch(output, batch));
        OutputLink& sent = *output.links[1];
        EXPECT_TRUE(wait_until(
            [&] {
                std::lock_guard guard(sent.lock);
                return sent.queue.messages.empty();
            },
            5000));
        EXPECT_TRUE(
            wait_until([&] { return output_link_status(*output.links[0]).state == OutputState::reconnecting; }, 5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last write reaches the server
    }
    server.join();
    std::vector<std::tuple<uint8_t, uint32_t, std::vector<uint8_t>>> got;
    for (const FakeRtmpMessage& m : server.peer.messages) {
        if (m.type_id == RTMP_TYPE_AUDIO || m.type_id == RTMP_TYPE_VIDEO)
            got.emplace_back(m.type_id, m.timestamp, m.payload);
    }
    using Got = decltype(got)::value_type;
    EXPECT_EQ(got, (std::vector<Got>{{RTMP_TYPE_VIDEO, 40, VIDEO_HEADER},
                                     {RTMP_TYPE_AUDIO, 40, AUDIO_HEADER},
                                     {RTMP_TYPE_VIDEO, 40, KEY_FRAME},
                                     {RTMP_TYPE_AUDIO, 45, AUDIO_FRAME}}));
    std::lock_guard guard(reports.lock);
    auto refused = std::find_if(reports.seen.begin(), reports.seen.end(), [](const OutputStatus& s) {
        return s.number == 2 && s.state == OutputState::reconnecting;
    });
    ASSERT_NE(refused, reports.seen.end());
    EXPECT_NE(refused->last_error, "");
    EXPECT_EQ(refused->last_error.find("refused/"), std::string::npos);  // never the URL
}

// A server that accepts the publish and then stops reading: once more than
// the queue's worth of media waits, the output drops the connection to retry;
// its figures show the queue it held and why it went.
TEST(PublishOutputThreads, AnOutputWhoseServerStopsReadingIsDropped) {
    FakeRtmpServer server;
    ASSERT_TRUE(server.start(
        [](FakeRtmpPeer& peer) {
            if (fake_rtmp_accept_publish(peer)) std::this_thread::sleep_for(std::chrono::seconds(3));
        },
        10000));
    WorkflowHealth health;
    OutputLinkPtr link = output_link_start(server.url(), 2, {.health = &health});
    ASSERT_TRUE(wait_until([&] { return output_link_status(*link).state == OutputState::connected; }, 5000));
    const std::vector<uint8_t> megabyte(size_t{1} << 20, 0x27);
    const SequenceHeaders none;
    for (uint32_t at = 0; at < 40 * 400 && output_link_status(*link).state == OutputState::connected; at += 40) {
        output_link_push(*link, none, {RTMP_TYPE_VIDEO, at, at == 0 ? KEY_FRAME : megabyte});
        output_link_wake(*link);
    }
    ASSERT_TRUE(wait_until([&] { return output_link_status(*link).state == OutputState::reconnecting; }, 5000));
    EXPECT_EQ(output_link_status(*link).last_error, "output stalled: more than 3 s of media waiting");
    const std::vector<OutputSnapshot> outputs = health_snapshot(health, tick_ms()).outputs;
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(std::tuple(outputs[0].number, outputs[0].state, outputs[0].last_error),
              std::tuple(2u, OutputState::reconnecting, "output stalled: more than 3 s of media waiting"));
    // Sixteen 1 MB frames 40 ms apart fill the queue; the seventeenth overflows it.
    EXPECT_GE(outputs[0].queue_peak_ms, 600u);
    EXPECT_EQ(outputs[0].queue_messages, 0u);  // dropped with the connection
}

// A live run's next attempt takes over the outputs its last one kept: no new
// connection, the timeline one frame above the last tag. New sequence
// headers drop them, to join again with those.
TEST(PublishOutputThreads, KeptOutputsGoOnThroughTheNextAttempt) {
    FakeRtmpServer server;  // one connection only: a reconnect would find nobody
    ASSERT_TRUE(server.start(fake_rtmp_accept_and_record, 10000));
    KeptOutputs kept;
    Event stop;
    const EngineRun run{.stop_event = &stop, .hooks = {.output_numbers = {1, 3}, .kept_outputs = &kept}};
    const std::string urls[] = {"rtmp://127.0.0.1:1/live/refused", server.url()};
    const std::vector<uint8_t> other_header{0x17, 0, 0, 0, 0, 1};
    for (const std::vector<uint8_t>* header : {&VIDEO_HEADER, &VIDEO_HEADER, &other_header}) {
        PublishContext context;
        publish_context_bind(context, run);
        char error[256] = {};
        ASSERT_TRUE(publish_open_outputs(context, urls, error)) << error;
        for (const auto& [at, body] : {std::pair{0, header}, {0, &KEY_FRAME}, {40, &INTER_FRAME}}) {
            ASSERT_EQ(paced_send(&context, {RTMP_TYPE_VIDEO, at, *body}), 1);
        }
        ASSERT_TRUE(publish_flush(context));
        OutputLink& link = *context.output.links[1];
        ASSERT_TRUE(wait_until(
            [&] {
                std::lock_guard guard(link.lock);
                return link.queue.messages.empty();
            },
            5000));
        if (header == &other_header) {
            EXPECT_TRUE(wait_until([&] { return output_link_status(link).state == OutputState::reconnecting; }, 5000));
            EXPECT_EQ(output_link_status(link).last_error, "sequence headers changed: joining again");
            EXPECT_EQ(output_link_status(link).number, 3u);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last write reaches the server
        publish_keep_outputs(context, urls);
    }
    kept = KeptOutputs{};
    server.join();
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> got;
    for (const FakeRtmpMessage& m : server.peer.messages) {
        if (m.type_id == RTMP_TYPE_VIDEO) got.emplace_back(m.timestamp, m.payload);
    }
    using Got = decltype(got)::value_type;
    EXPECT_EQ(got, (std::vector<Got>{{0, VIDEO_HEADER},
                                     {0, KEY_FRAME},
                                     {40, INTER_FRAME},
                                     {73, VIDEO_HEADER},
                                     {73, KEY_FRAME},
                                     {113, INTER_FRAME}}));
}

}  // namespace
