// POSIX clocks: CLOCK_MONOTONIC for ticks, localtime_r for the wall clock.
#include <ctime>

#include "platform/time/clock.h"

uint64_t tick_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

LocalTime local_time_now() {
    time_t now = time(nullptr);
    tm parts{};
    localtime_r(&now, &parts);
    return LocalTime{static_cast<unsigned>(parts.tm_year + 1900), static_cast<unsigned>(parts.tm_mon + 1),
                     static_cast<unsigned>(parts.tm_mday),        static_cast<unsigned>(parts.tm_hour),
                     static_cast<unsigned>(parts.tm_min),         static_cast<unsigned>(parts.tm_sec)};
}
