// Bounded waiting for tests: every wait in the suite has an end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/time/clock.h"

// Polls `done` every 10 ms for up to `timeout_ms`; true once it holds.
inline bool wait_until(const std::function<bool()>& done, uint32_t timeout_ms) {
    for (uint64_t deadline = tick_ms() + timeout_ms; !done();) {
        if (tick_ms() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
