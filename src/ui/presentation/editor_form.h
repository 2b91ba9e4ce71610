// The workflow editor, whatever draws it: its controls (id, kind, label,
// place in dialog units, type group), the lists its drop lists offer, which
// controls each workflow type shows and where the buttons go, and the form:
// the controls' values read from a record on opening and checked and
// written back, in the editor's order, on Save.
//
// Nothing is written while the dialog is open: the form is what the
// controls hold, and only a form that passes every check becomes settings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "workflow/editor_rules.h"
#include "workflow/workflow.h"

namespace editor_id {
constexpr int save = 1, cancel = 2;
constexpr int name = 201, type = 202, enabled = 203, source_type = 204, source = 205, output = 206;
constexpr int image_enabled = 207, image_path = 208, image_x = 209, image_y = 210, image_scale = 211;
constexpr int text_enabled = 212, text = 213, text_bottom = 215, font_size = 216, encoder = 217, bitrate = 218;
constexpr int recording_dir = 219, poll_seconds = 220, reconnects = 221, delete_after_push = 222;
constexpr int prefer_stream_copy = 223, fallback_transcoding = 224;
constexpr int overlay_group = 225, record_group = 226, direct_group = 227;
constexpr int image_browse = 310, text_color = 311, background_color = 312, scroll_speed = 313;
constexpr int text_color_pick = 318, background_color_pick = 319, source_browse = 321;
constexpr int source_type_label = 322, source_label = 323;
constexpr int output_new = 241, output_add = 242, output_list = 243, output_remove = 244;
}  // namespace editor_id

// `list`: the outputs beyond the first, one check-box row each.
enum class ControlKind { label, edit, digits, combo, check, button, group, list };
enum class EditorGroup { top, overlay, record, direct, buttons };

struct DluRect {
    int x, y, width, height;
};

struct EditorControl {
    int id;  // 0 for a label no code refers to
    ControlKind kind;
    const char* text;  // label, caption or group title
    DluRect place;
    EditorGroup group;
};
// Every control of the editor, in tab order.
[[nodiscard]] std::span<const EditorControl> editor_controls();
// The edit's capacity in UTF-16 units, terminator included.
[[nodiscard]] size_t editor_capacity(int id);
// The entries of a drop list.
[[nodiscard]] std::vector<std::string> editor_items(int id);
// The check boxes (painted by the theme, toggled by the dialog).
[[nodiscard]] bool editor_is_check(int id);

constexpr const char* EDITOR_TITLE = "Workflow Configuration";
constexpr int EDITOR_WIDTH_DLU = 500;

// Which groups the type shows and where the dialog ends.
struct EditorLayout {
    bool overlay, record, direct, mp4;
    const char* source_label;  // "Source URL" or "MP4 file"
    DluRect source;            // the source edit
    int buttons_y;
    int client_height;
};
[[nodiscard]] EditorLayout editor_layout(WorkflowType type);
// The type of a type-list index (index + 1).
[[nodiscard]] WorkflowType editor_type_at(int index);
// Where the control sits under the layout: the source edit's width and the
// buttons' row follow the type; everything else stays where the table puts it.
[[nodiscard]] DluRect editor_place(const EditorControl& control, const EditorLayout& layout);
// True when the control is shown for the layout.
[[nodiscard]] bool editor_shows(const EditorLayout& layout, const EditorControl& control);

// What the controls hold: texts as typed (UTF-8), list indices (-1 none).
struct EditorForm {
    std::string name, source, output, image_path, image_scale, text, font_size, text_color, background_color;
    std::string bitrate, recording_dir, poll_seconds, reconnects;
    std::vector<ExtraOutput> outputs;  // beyond the first, in order; the list's rows
    int type = 0, source_type = 0, image_x = 0, image_y = 0, text_bottom = 0, scroll_speed = 0, encoder = 0;
    bool enabled = false, image_enabled = false, text_enabled = false, delete_after_push = false;
    bool prefer_stream_copy = false, fallback_transcoding = false;
};

[[nodiscard]] EditorForm editor_form_from(const WorkflowSettings& settings);
// The settings the form saves (fields no control edits taken from
// `original`), or the first problem, with the field to focus.
[[nodiscard]] std::variant<WorkflowSettings, EditorProblem> editor_form_read(const EditorForm& form,
                                                                             const WorkflowSettings& original);
// The outputs list's rows: each extra output masked, and whether it is on.
struct OutputRow {
    std::string shown;
    bool enabled;
};
[[nodiscard]] std::vector<OutputRow> editor_output_rows(const std::vector<ExtraOutput>& outputs);
// Appends an enabled output, or says why not and leaves the form as it was:
// a full workflow, a URL that is no output, or one that publishes to the
// same stream as an output the form has (the first included).
[[nodiscard]] std::optional<EditorProblem> editor_add_output(EditorForm& form, const std::string& url);
// Drops the row's output; a row past the list does nothing.
void editor_remove_output(EditorForm& form, size_t row);

// The control id a problem puts the focus on.
[[nodiscard]] int editor_focus_id(EditorField field);
// The leading decimal number of a text as the C library reads it; 0 when
// there is none, held at the 32-bit range.
[[nodiscard]] int32_t editor_read_decimal(const std::string& text);
// A file the user chose fits the field (a longer path is refused, not cut).
[[nodiscard]] bool editor_path_fits(const std::string& path);

// The picker's colour of a colour text (0x00BBGGRR, black when invalid),
// and the text of a picked colour.
[[nodiscard]] uint32_t editor_picker_start(const std::string& text);
