// press_start_stop.exe SECONDS: a user's session with a running veltrona.exe,
// from another process, by window messages only: select the first row,
// press Start, wait for it to stream, let it stream SECONDS, press Stop,
// wait for the stopped state, close the window. Each step is read back from
// the details box; every wait is bounded. The exit code is 0 when all steps
// were seen, 1 otherwise (the step and the last details go to stdout).
// clang-format off
#include <windows.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/presentation/main_view.h"
#include "ui/win32/main_window_win32.h"

namespace {

void press(HWND window, MainCommand command) {
    for (const MainButton& button : main_buttons())
        if (button.command == command) PostMessageW(GetDlgItem(window, button.id), BM_CLICK, 0, 0);
}

// WM_GETTEXT is carried across processes, unlike the list view's messages.
std::wstring details(HWND window) {
    wchar_t text[4096] = {};
    SendMessageW(GetDlgItem(window, DETAILS_ID), WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text));
    return text;
}

bool wait_details(HWND window, const wchar_t* wanted, DWORD limit_ms) {
    for (DWORD waited = 0; waited < limit_ms; waited += 100, Sleep(100)) {
        if (details(window).find(wanted) != std::wstring::npos) return true;
    }
    std::printf("no \"%ls\" in the details after %lu ms:\n%ls\n", wanted, limit_ms, details(window).c_str());
    return false;
}

HWND wait_window(DWORD limit_ms) {
    for (DWORD waited = 0; waited < limit_ms; waited += 100, Sleep(100)) {
        if (HWND window = FindWindowW(MAIN_WINDOW_CLASS, nullptr)) return window;
    }
    std::printf("no main window after %lu ms\n", limit_ms);
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: press_start_stop SECONDS\n");
        return 2;
    }
    HWND window = wait_window(60000);
    if (window == nullptr) return 1;
    PostMessageW(GetDlgItem(window, LIST_ID), WM_KEYDOWN, VK_HOME, 0);  // the first row
    if (!wait_details(window, L"Status: STOPPED", 10000)) return 1;
    press(window, MainCommand::start);
    if (!wait_details(window, L"Status: STREAMING", 60000)) return 1;
    Sleep(static_cast<DWORD>(std::atoi(argv[1])) * 1000);
    press(window, MainCommand::stop);
    if (!wait_details(window, L"Status: STOPPED", 30000)) return 1;
    PostMessageW(window, WM_CLOSE, 0, 0);
    std::printf("streamed and stopped\n");
    return 0;
}
