// Pictures of the Win32 shell for the documentation: the main window with
// the four sample workflows and the editor of each type, shown on the
// screen (Xvfb under Wine in scripts/screenshots) and copied from it into
// 24-bit BMP files in the folder given on the command line.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/files/files.h"
#include "platform/text/wide_text.h"
#include "ui/presentation/samples.h"
#include "ui/win32/main_window_win32.h"

namespace {

// Lets the window paint for a moment.
void pump_for(DWORD ms) {
    const uint64_t end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// The client area's pixels as they are on the screen, bottom-up BGR rows.
// The frame is left out: with no window manager on the display nobody
// draws it, and a user's own system draws its own.
bool save_window(HWND window, const std::string& path) {
    RECT rect{};
    GetClientRect(window, &rect);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    const size_t pixels = stride * static_cast<size_t>(height);
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + pixels), 0,
                          0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    std::string content(reinterpret_cast<const char*>(&file), sizeof(file));
    content.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
    content.append(static_cast<const char*>(bits), pixels);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const bool saved = file_replace_private(path, content);
    if (!saved) std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return saved;
}

HWND visible_dialog(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM out) {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (wcscmp(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
            *reinterpret_cast<HWND*>(out) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Opens the editor and, from a second thread, photographs and cancels it.
bool save_editor(HWND owner, Workflow& workflow, const std::string& path) {
    std::atomic<bool> saved{false};
    const DWORD ui_thread = GetCurrentThreadId();
    std::thread photographer([&] {
        HWND dialog = nullptr;
        for (int tries = 0; tries < 250 && dialog == nullptr; ++tries, Sleep(20)) dialog = visible_dialog(ui_thread);
        if (dialog == nullptr) return;
        Sleep(500);
        saved = save_window(dialog, path);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    (void)edit_workflow_win32(owner, workflow);
    photographer.join();
    return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltrona_screenshots FOLDER\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const std::string folder = wide_to_utf8(argv[1]);
    auto* app = new AppContext;  // never freed, as in the program
    if (!app_context_init(*app, folder + "\\.data").empty()) return 1;
    const SamplePaths paths{"C:\\Users\\user\\Videos\\loop.mp4", "C:\\Users\\user\\Pictures\\logo.png",
                            "C:\\Users\\user\\AppData\\Local\\Veltrona\\recordings"};
    add_picture_samples(*app, paths);
    HWND window = main_window_create(*app, GetModuleHandleW(nullptr), Win32UiOptions{false});
    if (window == nullptr) return 1;
    SendMessageW(GetDlgItem(window, LIST_ID), WM_SETFOCUS, 0, 0);
    LVITEMW state{};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(GetDlgItem(window, LIST_ID), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
    pump_for(1500);
    bool ok = save_window(window, folder + "\\windows-main-window.bmp");
    for (int type = 1; type <= 4; ++type) {
        const auto workflow_type = static_cast<WorkflowType>(type);
        Workflow& sample = add_editor_sample(*app, workflow_type, paths);
        ok = save_editor(window, sample, folder + "\\windows-" + editor_picture_name(workflow_type) + ".bmp") && ok;
    }
    DestroyWindow(window);
    return ok ? 0 : 1;
}
