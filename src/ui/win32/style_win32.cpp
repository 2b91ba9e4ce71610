// The GDI side of the theme. Pens and brushes made while drawing are
// deleted before the draw returns, and every object selected into a device
// context is selected out again.
#include "ui/win32/style_win32.h"

// clang-format off
#include <commctrl.h>
#include <uxtheme.h>
// clang-format on

#include "platform/text/wide_text.h"

namespace {

constexpr int BUTTON_HEIGHT = 48, CHECK_SIZE = 16, CHECK_TEXT_X = 22, TEXT_CAPACITY = 128;

Win32Style& style() {
    static Win32Style made;
    return made;
}

HHOOK& centring_hook() {
    static HHOOK hook = nullptr;
    return hook;
}

HFONT make_font(UiFont font) {
    const FontLook look = ui_font_look(font);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    HFONT made = CreateFontW(-font_pixel_height_at(look.points, dpi), 0, 0, 0, look.weight, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                             utf8_to_wide(FONT_FAMILY).c_str());
    return made ? made : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

std::wstring control_text(HWND control) {
    wchar_t text[TEXT_CAPACITY] = {};
    GetWindowTextW(control, text, TEXT_CAPACITY);
    return text;
}

// Selects `object` into `dc` for one scope.
struct Selected {
    HDC dc;
    HGDIOBJ previous;
    Selected(HDC device, HGDIOBJ object) : dc(device), previous(SelectObject(device, object)) {}
    ~Selected() { SelectObject(dc, previous); }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;
};

void fill(HDC dc, const RECT& rect, UiColour colour) {
    HBRUSH brush = CreateSolidBrush(win32_colour(colour));
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void draw_text(HDC dc, HWND control, RECT rect, HFONT font, UiColour colour, UINT format) {
    const std::wstring text = control_text(control);
    Selected selected(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, win32_colour(colour));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format | DT_SINGLELINE | DT_VCENTER);
}

void draw_button(const DRAWITEMSTRUCT& item) {
    const bool enabled = (item.itemState & ODS_DISABLED) == 0;
    const bool primary = GetWindowLongPtrW(item.hwndItem, GWLP_USERDATA) != 0;
    const ButtonLook look =
        button_look(enabled, (item.itemState & ODS_SELECTED) != 0, primary, (item.itemState & ODS_FOCUS) != 0);
    fill(item.hDC, item.rcItem, UiColour::window_background);
    HPEN pen = CreatePen(PS_SOLID, 1, win32_colour(look.border));
    HBRUSH brush = CreateSolidBrush(win32_colour(look.fill));
    {
        Selected with_pen(item.hDC, pen), with_brush(item.hDC, brush);
        RoundRect(item.hDC, item.rcItem.left, item.rcItem.top, item.rcItem.right - 1, item.rcItem.bottom - 1, 8, 8);
    }
    DeleteObject(pen);
    DeleteObject(brush);
    draw_text(item.hDC, item.hwndItem, item.rcItem, style().button, look.text, DT_CENTER);
}

void draw_check(const DRAWITEMSTRUCT& item) {
    const CheckLook look = check_look((item.itemState & ODS_DISABLED) == 0, (item.itemState & ODS_FOCUS) != 0);
    fill(item.hDC, item.rcItem, UiColour::dialog_background);
    const int left = item.rcItem.left;
    const int top = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - CHECK_SIZE) / 2;
    HPEN border = CreatePen(PS_SOLID, 1, win32_colour(look.border));
    HBRUSH square = CreateSolidBrush(win32_colour(UiColour::edit_background));
    {
        Selected with_pen(item.hDC, border), with_brush(item.hDC, square);
        Rectangle(item.hDC, left, top, left + CHECK_SIZE, top + CHECK_SIZE);
    }
    DeleteObject(border);
    DeleteObject(square);
    if (is_checked(item.hwndItem)) {
        HPEN mark = CreatePen(PS_SOLID, 2, win32_colour(UiColour::accent));
        {
            Selected with_pen(item.hDC, mark);
            MoveToEx(item.hDC, left + 3, top + 8, nullptr);
            LineTo(item.hDC, left + 7, top + 12);
            LineTo(item.hDC, left + 13, top + 4);
        }
        DeleteObject(mark);
    }
    RECT text = item.rcItem;
    text.left += CHECK_TEXT_X;
    draw_text(item.hDC, item.hwndItem, text, style().body, look.text, DT_LEFT);
}

LRESULT CALLBACK centring_proc(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_ACTIVATE) centre_window(reinterpret_cast<HWND>(wparam));
    return CallNextHookEx(centring_hook(), code, wparam, lparam);
}

}  // namespace

void win32_style_init() {
    Win32Style& made = style();
    if (made.window_brush) return;
    made.window_brush = CreateSolidBrush(win32_colour(UiColour::window_background));
    made.dialog_brush = CreateSolidBrush(win32_colour(UiColour::dialog_background));
    made.edit_brush = CreateSolidBrush(win32_colour(UiColour::edit_background));
    made.body = make_font(UiFont::body);
    made.button = make_font(UiFont::button);
    made.title = make_font(UiFont::title);
}

const Win32Style& win32_style() {
    return style();
}

COLORREF win32_colour(UiColour colour) {
    const Rgb rgb = ui_rgb(colour);
    return RGB(rgb.r, rgb.g, rgb.b);
}

HWND create_themed_button(HWND parent, const wchar_t* text, int id, int x, int y, int width, bool primary) {
    HWND button = CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, x, y, width,
                                  BUTTON_HEIGHT, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    SetWindowLongPtrW(button, GWLP_USERDATA, primary ? 1 : 0);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(style().button), TRUE);
    return button;
}

void draw_item(const DRAWITEMSTRUCT& item) {
    if (editor_is_check(static_cast<int>(item.CtlID))) {
        draw_check(item);
    } else {
        draw_button(item);
    }
}

void set_check(HWND control, bool checked) {
    SetWindowLongPtrW(control, GWLP_USERDATA, checked ? 1 : 0);
    InvalidateRect(control, nullptr, TRUE);
}

bool is_checked(HWND control) {
    return GetWindowLongPtrW(control, GWLP_USERDATA) != 0;
}

void fit_edit_height(HWND control) {
    if ((GetWindowLongPtrW(control, GWL_STYLE) & ES_MULTILINE) != 0) return;
    HDC dc = GetDC(control);
    TEXTMETRICW metrics{};
    {
        Selected with_font(dc, style().body);
        GetTextMetricsW(dc, &metrics);
    }
    ReleaseDC(control, dc);
    const int height = metrics.tmHeight + 12;
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    if (rect.bottom - rect.top <= height) return;
    const int top = rect.top + (rect.bottom - rect.top - height) / 2;
    SetWindowPos(control, nullptr, rect.left, top, rect.right - rect.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void flatten_control(HWND control) {
    SetWindowLongPtrW(control, GWL_EXSTYLE, GetWindowLongPtrW(control, GWL_EXSTYLE) & ~WS_EX_CLIENTEDGE);
    SetWindowLongPtrW(control, GWL_STYLE, GetWindowLongPtrW(control, GWL_STYLE) | WS_BORDER);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(style().body), TRUE);
    wchar_t class_name[32] = {};
    GetClassNameW(control, class_name, 32);
    if (lstrcmpiW(class_name, L"Edit") == 0) {
        fit_edit_height(control);
        SetWindowTheme(control, L"Explorer", nullptr);
        SendMessageW(control, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(6, 6));
    } else {
        SetWindowTheme(control, L"", L"");
    }
    SetWindowPos(control, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
}

void set_control_rect_dlu(HWND dialog, int id, const DluRect& place) {
    RECT rect{place.x, place.y, place.x + place.width, place.y + place.height};
    MapDialogRect(dialog, &rect);
    SetWindowPos(GetDlgItem(dialog, id), nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void centre_window(HWND window) {
    if (window == nullptr || GetPropW(window, CENTERED_PROPERTY) != nullptr) return;
    if ((GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) != 0) return;
    HWND owner = GetWindow(window, GW_OWNER);
    HMONITOR monitor = owner ? MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY)
                             : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(monitor, &info)) return;
    RECT rect{};
    GetWindowRect(window, &rect);
    const RECT& work = info.rcWork;
    const int x = work.left + ((work.right - work.left) - (rect.right - rect.left)) / 2;
    const int y = work.top + ((work.bottom - work.top) - (rect.bottom - rect.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetPropW(window, CENTERED_PROPERTY, reinterpret_cast<HANDLE>(1));
}

void install_centring_hook() {
    if (centring_hook() == nullptr)
        centring_hook() = SetWindowsHookExW(WH_CBT, centring_proc, nullptr, GetCurrentThreadId());
}

void remove_centring_hook() {
    if (centring_hook() != nullptr) UnhookWindowsHookEx(centring_hook());
    centring_hook() = nullptr;
}

std::string window_text_utf8(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return wide_to_utf8(text);
}

void set_window_text_utf8(HWND window, const std::string& text) {
    SetWindowTextW(window, utf8_to_wide(text).c_str());
}
