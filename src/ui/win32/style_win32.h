// The theme in GDI: the brushes and fonts made once at start, the
// owner-drawn push buttons and check boxes, flattened edits and drop lists,
// dialog-unit placement, and the activation hook that centres every
// top-level window once on its owner's monitor.
//
// Everything here runs on the UI thread. The colours and the drawing rules
// are the presentation layer's (ui/presentation/look.h).
#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include <string>

#include "ui/presentation/editor_form.h"
#include "ui/presentation/look.h"

struct Win32Style {
    HBRUSH window_brush = nullptr, dialog_brush = nullptr, edit_brush = nullptr;
    HFONT body = nullptr, button = nullptr, title = nullptr;
};

// Creates the brushes and fonts (kept for the process's life); again is a no-op.
void win32_style_init();
[[nodiscard]] const Win32Style& win32_style();
[[nodiscard]] COLORREF win32_colour(UiColour colour);

// An owner-drawn push button at (x, y), `width` wide and 48 high, with the
// button font; `primary` kept in its user-data slot.
HWND create_themed_button(HWND parent, const wchar_t* text, int id, int x, int y, int width, bool primary);
// Paints one owner-drawn button or check box (the editor's check-box ids).
void draw_item(const DRAWITEMSTRUCT& item);
void set_check(HWND control, bool checked);
[[nodiscard]] bool is_checked(HWND control);
// One-pixel border, body font, single-line edits one text line + 12 high
// (centred where they were taller), 6-pixel margins; combos lose their theme.
void flatten_control(HWND control);
// A single-line edit taller than its text + 12 is cut to that height and
// centred in its old place; a smaller one keeps its size.
void fit_edit_height(HWND control);
// Moves and sizes a dialog's control to a rectangle in dialog units.
void set_control_rect_dlu(HWND dialog, int id, const DluRect& rect);
// Centres a top-level window on its owner's monitor work area (the primary
// one without owner) unless it carries the "VeltronaCentered" property.
void centre_window(HWND window);
constexpr const wchar_t* CENTERED_PROPERTY = L"VeltronaCentered";
// The thread's activation hook that centres each window as it first activates.
void install_centring_hook();
void remove_centring_hook();

// A window's text as UTF-8.
[[nodiscard]] std::string window_text_utf8(HWND window);
void set_window_text_utf8(HWND window, const std::string& text);
