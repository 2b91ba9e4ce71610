// The Win32 main window: the workflow list (a list view painted per state),
// the details box, the logo and the command buttons, at the shared pixel
// geometry. It lives on the UI thread, which alone changes the workflow
// table; runners reach it only by WM_WORKFLOW_UPDATED, posted through the
// context's notifier, which is cleared before the window goes away. The
// list also refreshes itself every second.
#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include <string>

#include "app/app_context.h"
#include "ui/win32/editor_win32.h"

constexpr UINT WM_WORKFLOW_UPDATED = WM_APP + 1;
constexpr UINT WM_TOOL_PROBE_DONE = WM_APP + 30;
constexpr int LIST_ID = 101, DETAILS_ID = 102, LOGO_ID = 306;
constexpr const wchar_t* MAIN_WINDOW_CLASS = L"VeltronaMainWindow";

struct Win32UiOptions {
    bool start_probe = true;  // the background yt-dlp probe
    // Opens the editor on a workflow; the real dialog unless a test replaces it.
    Win32EditorResult (*edit)(HWND owner, Workflow& workflow) = edit_workflow_win32;
};

// Style, hook, logo, class and window; the window shown, or null after the
// failure box. `startup_problem` is shown once the window is up.
HWND main_window_create(AppContext& app, HINSTANCE instance, const Win32UiOptions& options,
                        const std::string& startup_problem = "");
// The message loop until the quit message; its code (0 after a close).
int main_window_loop(HWND window);
// Both, then the hook and logo released: the desktop program's whole run.
int win32_ui_run(AppContext& app, HINSTANCE instance, const std::string& startup_problem);
// True when `message` was the player shortcut, handled for the main window.
bool main_window_shortcut(HWND window, const MSG& message);
