// Manual-reset event over a mutex and a condition variable, with listeners
// called under the same mutex so removal can wait out a running call.
#include "platform/time/event.h"

#include <algorithm>
#include <chrono>
#include <thread>

void Event::set() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    changed_.notify_all();
    for (const Registration& registration : listeners_) registration.listener(registration.context);
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

uint64_t Event::add_listener(Listener listener, void* context) {
    std::lock_guard lock(mutex_);
    uint64_t key = next_key_++;
    listeners_.push_back({key, listener, context});
    if (signalled_) listener(context);
    return key;
}

void Event::remove_listener(uint64_t key) {
    std::lock_guard lock(mutex_);
    std::erase_if(listeners_, [key](const Registration& registration) { return registration.key == key; });
}

EventListener::EventListener(Event* event, Event::Listener listener, void* context) : event_(event) {
    if (event_) key_ = event_->add_listener(listener, context);
}

EventListener::~EventListener() {
    if (event_) event_->remove_listener(key_);
}

bool event_wait_ms(Event* event, uint32_t timeout_ms) {
    if (event) return event->wait_ms(timeout_ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return false;
}

bool event_is_set(Event* event) {
    return event && event->is_set();
}
