// Windows clocks: GetTickCount64 for ticks, GetLocalTime for the wall clock.
#include <windows.h>

#include "platform/time/clock.h"

uint64_t tick_ms() {
    return GetTickCount64();
}

LocalTime local_time_now() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}
