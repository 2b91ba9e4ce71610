// The system's dialogs behind the hook table.
#include "ui/win32/dialogs_win32.h"

// clang-format off
#include <commdlg.h>
#include <shellapi.h>
// clang-format on

#include "platform/text/wide_text.h"
#include "workflow/workflow.h"

namespace {

int system_box(HWND owner, const std::wstring& text, const std::wstring& title, UINT type) {
    return MessageBoxW(owner, text.c_str(), title.c_str(), type);
}

std::wstring system_open_file(HWND owner, const std::wstring& start_path, const wchar_t* filter) {
    std::wstring path(URL_CAPACITY, L'\0');
    if (start_path.size() < URL_CAPACITY) path.replace(0, start_path.size(), start_path);
    OPENFILENAMEW chooser{};
    chooser.lStructSize = sizeof(chooser);
    chooser.hwndOwner = owner;
    chooser.lpstrFilter = filter;
    chooser.lpstrFile = path.data();
    chooser.nMaxFile = static_cast<DWORD>(path.size());
    chooser.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&chooser)) return {};
    path.resize(wcslen(path.c_str()));
    return path;
}

bool system_pick_colour(HWND owner, COLORREF* colour) {
    static COLORREF custom[16] = {};  // kept for the process's life
    CHOOSECOLORW chooser{};
    chooser.lStructSize = sizeof(chooser);
    chooser.hwndOwner = owner;
    chooser.rgbResult = *colour;
    chooser.lpCustColors = custom;
    chooser.Flags = CC_FULLOPEN | CC_RGBINIT;
    if (!ChooseColorW(&chooser)) return false;
    *colour = chooser.rgbResult;
    return true;
}

bool system_shell_open(HWND owner, const std::wstring& program, const std::wstring& parameters) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(owner, L"open", program.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL));
    return result > 32;
}

constexpr Win32Hooks SYSTEM_HOOKS{system_box, system_open_file, system_pick_colour, system_shell_open};

}  // namespace

Win32Hooks& win32_hooks() {
    static Win32Hooks hooks = SYSTEM_HOOKS;
    return hooks;
}

void win32_hooks_reset() {
    win32_hooks() = SYSTEM_HOOKS;
}

int show_box(HWND owner, const std::string& title, const std::string& text, UINT type) {
    return win32_hooks().message_box(owner, utf8_to_wide(text), utf8_to_wide(title), type);
}
