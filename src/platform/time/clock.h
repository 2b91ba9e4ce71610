// Time sources: a monotonic millisecond tick for durations and pacing, and
// the local wall-clock time for log lines and recording names.
#pragma once

#include <cstdint>

// Milliseconds on a monotonic clock (never goes back; arbitrary origin).
[[nodiscard]] uint64_t tick_ms();

struct LocalTime {
    unsigned year, month, day, hour, minute, second;
};

[[nodiscard]] LocalTime local_time_now();
