// A manual-reset event: once set it stays set, waking every waiter, until
// reset. Stands in for the platform events the runner, the engines and the
// downloader wait on. Safe to use from any thread.
//
// Besides waiters, an event can have listeners: short callbacks run by
// set() itself, which is how a stop reaches code blocked in a system call
// (a listener shuts the socket down and the call returns at once).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class Event {
  public:
    using Listener = void (*)(void* context);

    void set();
    void reset();
    // True when the event is set (now or within `timeout_ms`); 0 polls.
    [[nodiscard]] bool wait_ms(uint32_t timeout_ms);
    [[nodiscard]] bool is_set();

    // Runs `listener(context)` at every set() from now on, and at once when
    // the event is already set. Listeners run under the event's lock: they
    // must be quick and must not use the event. Returns the listener's key.
    [[nodiscard]] uint64_t add_listener(Listener listener, void* context);
    // Once this returns, the listener is not running and never runs again.
    void remove_listener(uint64_t key);

  private:
    struct Registration {
        uint64_t key;
        Listener listener;
        void* context;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
    uint64_t next_key_ = 1;
    std::vector<Registration> listeners_;
};

// A listener for as long as this object lives; an absent event listens to nothing.
class EventListener {
  public:
    EventListener() = default;
    EventListener(Event* event, Event::Listener listener, void* context);
    ~EventListener();
    EventListener(const EventListener&) = delete;
    EventListener& operator=(const EventListener&) = delete;

  private:
    Event* event_ = nullptr;
    uint64_t key_ = 0;
};

// wait_ms on an event that may be absent: without one, just sleeps and returns false.
[[nodiscard]] bool event_wait_ms(Event* event, uint32_t timeout_ms);
// is_set on an event that may be absent.
[[nodiscard]] bool event_is_set(Event* event);
