// Event listeners, and what they are for: a stop that reaches a thread
// blocked on the network, in a connect or in a read.
#include "platform/time/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/network/socket_connect.h"
#include "platform/time/clock.h"
#include "rtmp/rtmp_publisher.h"
#include "support/fake_rtmp_server.h"
#include "support/hostile_origin.h"

namespace {

void count_call(void* context) {
    ++*static_cast<std::atomic<int>*>(context);
}

TEST(EventThreads, ListenersRunOnSetAndNeverAfterRemoval) {
    Event event;
    std::atomic<int> calls{0};
    {
        EventListener listener(&event, count_call, &calls);
        EXPECT_EQ(calls.load(), 0);
        event.set();
        EXPECT_EQ(calls.load(), 1);
        event.reset();
    }
    event.set();
    EXPECT_EQ(calls.load(), 1);
    EventListener late(&event, count_call, &calls);  // already set: called at once
    EXPECT_EQ(calls.load(), 2);
    EventListener none(nullptr, count_call, &calls);
    EXPECT_EQ(calls.load(), 2);
}

// Both would wait 20 s; a stop set after 300 ms ends each long before.
TEST(EventThreads, StopEndsAConnectOrAnRtmpOpenThatWouldWaitForItsTimeout) {
    UnansweredPort unanswered;  // a full accept queue: connects to it hang
    ASSERT_TRUE(unanswered.start());
    FakeRtmpServer silent;
    ASSERT_TRUE(silent.start([](FakeRtmpPeer& peer) { (void)peer.wait_for_close(); }, 10000));
    const std::function<bool(Event*)> blocked[] = {
        [&](Event* stop) {
            int fd = socket_connect("127.0.0.1", unanswered.port(), 20000, stop);
            socket_close(fd);
            return fd >= 0;
        },
        [&](Event* stop) {
            char error[256] = {};
            RtmpPublisherPtr publisher(rtmp_open(silent.url(), 20000, error, stop));
            return publisher != nullptr;
        }};
    for (const auto& call : blocked) {
        Event stop;
        std::atomic<bool> stopping{false};
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stopping = true;
            stop.set();
        });
        uint64_t began = tick_ms();
        EXPECT_FALSE(call(&stop));
        EXPECT_TRUE(stopping) << "it really was waiting, until the stop";
        EXPECT_LT(tick_ms() - began, 10000u);
        stopper.join();
    }
}

}  // namespace
