// The palette and the colour choices of the theme's painted controls.
#include "ui/presentation/look.h"

#include <array>

#include "workflow/workflow.h"

namespace {

constexpr std::array<Rgb, 15> PALETTE = {{
    {23, 26, 31},     // window_background
    {31, 36, 43},     // list_background
    {37, 43, 51},     // dialog_background
    {42, 49, 58},     // edit_background
    {232, 237, 243},  // text
    {174, 184, 196},  // disabled_text
    {41, 182, 166},   // accent
    {76, 89, 104},    // outline
    {47, 111, 179},   // primary_button
    {45, 53, 63},     // normal_button
    {31, 40, 51},     // pressed_button
    {42, 47, 54},     // disabled_button
    {200, 74, 74},    // state_error
    {47, 166, 106},   // state_live
    {225, 6, 0},      // state_recording
}};

constexpr std::array<FontLook, 3> FONT_LOOKS = {{{14, 500}, {16, 600}, {21, 700}}};

}  // namespace

Rgb ui_rgb(UiColour colour) {
    return PALETTE[static_cast<size_t>(colour)];
}

FontLook ui_font_look(UiFont font) {
    return FONT_LOOKS[static_cast<size_t>(font)];
}

int font_pixel_height_at(int points, int dpi) {
    if (dpi <= 0) dpi = 96;
    return (points * dpi + 36) / 72;
}

ButtonLook button_look(bool enabled, bool pressed, bool primary, bool focused) {
    ButtonLook look{UiColour::normal_button, focused ? UiColour::accent : UiColour::outline,
                    enabled ? UiColour::text : UiColour::disabled_text};
    if (!enabled) {
        look.fill = UiColour::disabled_button;
    } else if (pressed) {
        look.fill = UiColour::pressed_button;
    } else if (primary) {
        look.fill = UiColour::primary_button;
    }
    return look;
}

CheckLook check_look(bool enabled, bool focused) {
    return {focused ? UiColour::accent : UiColour::outline, enabled ? UiColour::text : UiColour::disabled_text};
}

RowLook row_look(const uint32_t* state, bool selected) {
    if (selected) return {UiColour::accent, UiColour::window_background};
    RowLook look{UiColour::list_background, UiColour::text};
    if (state == nullptr) return look;
    switch (static_cast<WorkflowState>(*state)) {
        case WorkflowState::error:
            look.text = UiColour::state_error;
            break;
        case WorkflowState::playing:
        case WorkflowState::streaming:
            look.text = UiColour::state_live;
            break;
        case WorkflowState::recording:
            look.text = UiColour::state_recording;
            break;
        default:
            break;
    }
    return look;
}
