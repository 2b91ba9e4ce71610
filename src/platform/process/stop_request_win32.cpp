// The console control handler runs on a thread the system starts for each
// event. Ctrl-C and Ctrl-Break only set the flag; the other events would
// end the process on return, so they wait for the program to finish.
#include <windows.h>

#include <atomic>

#include "platform/process/stop_request.h"

namespace {

// Close, log-off and shut-down grant about five seconds before the process
// is ended regardless; the wait stays inside them.
constexpr DWORD kHoldMs = 4500;

std::atomic<bool> requested{false};
HANDLE stopped = nullptr;  // manual-reset: set once the work has stopped

BOOL WINAPI on_console_event(DWORD type) {
    requested = true;
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && stopped) WaitForSingleObject(stopped, kHoldMs);
    return TRUE;
}

}  // namespace

void stop_request_install() {
    requested = false;
    if (!stopped) stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopped) ResetEvent(stopped);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool stop_request_seen() {
    return requested;
}

void stop_request_remove() {
    if (stopped) SetEvent(stopped);
    SetConsoleCtrlHandler(on_console_event, FALSE);
}
