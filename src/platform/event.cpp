// Manual-reset event over a mutex and a condition variable.
#include "platform/event.h"

#include <chrono>
#include <thread>

void Event::set() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    changed_.notify_all();
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::wait_ms(uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; });
}

bool Event::is_set() {
    std::lock_guard lock(mutex_);
    return signalled_;
}

bool event_wait_ms(Event* event, uint32_t timeout_ms) {
    if (event) return event->wait_ms(timeout_ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return false;
}
