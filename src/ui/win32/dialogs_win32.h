// Every message box, file chooser, colour picker and player launch of the
// Win32 shell goes through one replaceable table, so the tests that drive
// the window by its messages can answer them without a box ever blocking.
// The defaults are the system's own. Only the UI thread calls these.
#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include <string>

struct Win32Hooks {
    // MessageBoxW's contract: `type` holds the buttons and icon, the result is IDOK, IDYES, IDNO.
    int (*message_box)(HWND owner, const std::wstring& text, const std::wstring& title, UINT type);
    // The chosen existing file, or an empty text; `filter` is a double-NUL list.
    std::wstring (*open_file)(HWND owner, const std::wstring& start_path, const wchar_t* filter);
    // True with `colour` (0x00BBGGRR) replaced when the user picked one.
    bool (*pick_colour)(HWND owner, COLORREF* colour);
    // The shell's "open" of `program` with `parameters`; false when it failed.
    bool (*shell_open)(HWND owner, const std::wstring& program, const std::wstring& parameters);
};

[[nodiscard]] Win32Hooks& win32_hooks();
// Puts the system's dialogs back.
void win32_hooks_reset();
// A box with the title and text given as UTF-8.
int show_box(HWND owner, const std::string& title, const std::string& text, UINT type);
