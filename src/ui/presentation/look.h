// The desktop's dark theme as data: the palette, the three fonts, and which
// colours a push button, a check box and a list row take in each state.
// Both front ends paint from these, each with its own toolkit.
#pragma once

#include <cstdint>

enum class UiColour {
    window_background,  // main window, around buttons, text of a selected row
    list_background,
    dialog_background,
    edit_background,
    text,
    disabled_text,
    accent,  // focus border, check mark, selected row
    outline,
    primary_button,
    normal_button,
    pressed_button,
    disabled_button,
    state_error,
    state_live,
    state_recording,
};

struct Rgb {
    int r, g, b;
};
[[nodiscard]] Rgb ui_rgb(UiColour colour);

enum class UiFont { body, button, title };

constexpr const char* FONT_FAMILY = "Noto Sans";
struct FontLook {
    int points;
    int weight;
};
[[nodiscard]] FontLook ui_font_look(UiFont font);
// Pixel height of `points` at `dpi` dots per inch, rounded as a
// multiply-then-divide rounds it.
[[nodiscard]] int font_pixel_height_at(int points, int dpi);

// Colours of one push-button paint.
struct ButtonLook {
    UiColour fill;
    UiColour border;
    UiColour text;
};
[[nodiscard]] ButtonLook button_look(bool enabled, bool pressed, bool primary, bool focused);

struct CheckLook {
    UiColour border;
    UiColour text;
};
[[nodiscard]] CheckLook check_look(bool enabled, bool focused);

// Colours of one row of the workflow list; `state` is null for a row with
// no workflow behind it.
struct RowLook {
    UiColour background;
    UiColour text;
};
[[nodiscard]] RowLook row_look(const uint32_t* state, bool selected);
