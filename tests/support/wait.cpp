#include "support/wait.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"

bool wait_until(const std::function<bool()>& done, uint32_t timeout_ms) {
    uint64_t deadline = tick_ms() + timeout_ms;
    while (!done()) {
        if (tick_ms() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
