// A manual-reset event: once set it stays set, waking every waiter, until
// reset. Stands in for the platform events the runner, the engines and the
// downloader wait on. Safe to use from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class Event {
public:
    void set();
    void reset();
    // True when the event is set (now or within `timeout_ms`); 0 polls.
    [[nodiscard]] bool wait_ms(uint32_t timeout_ms);
    [[nodiscard]] bool is_set();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

// wait_ms on an event that may be absent: without one, just sleeps and returns false.
[[nodiscard]] bool event_wait_ms(Event* event, uint32_t timeout_ms);
