// The editor's control table, type layouts and form. The checks themselves
// are editor_rules' (shared with veltrona-cli add).
#include "ui/presentation/editor_form.h"

#include <array>
#include <climits>

#include "platform/text/text.h"
#include "workflow/check_messages.h"
#include "workflow/validate.h"

namespace {

using K = ControlKind;
using G = EditorGroup;
namespace id = editor_id;

constexpr int SCROLL_STEPS = 20;  // 10, 20, ... 200
constexpr int TYPE_COUNT = 4;     // the type list offers types 1 to 4 in order
constexpr size_t NUMBER_CAPACITY = 32, COLOUR_CAPACITY = 32;
constexpr std::array<const char*, 3> ENCODER_NAMES = {"Auto", "Hardware H.264", "Software H.264"};

constexpr EditorControl CONTROLS[] = {
    {0, K::label, "Name", {12, 19, 88, 12}, G::top},
    {id::name, K::edit, "", {104, 15, 384, 22}, G::top},
    {0, K::label, "Workflow type", {12, 47, 88, 12}, G::top},
    {id::type, K::combo, "", {104, 43, 170, 22}, G::top},
    {id::enabled, K::check, "Enabled", {290, 43, 100, 22}, G::top},
    {id::source_type_label, K::label, "Source type", {12, 75, 88, 12}, G::top},
    {id::source_type, K::combo, "", {104, 71, 170, 22}, G::top},
    {id::source_label, K::label, "Source URL", {12, 103, 88, 12}, G::top},
    {id::source, K::edit, "", {104, 99, 384, 22}, G::top},
    {id::source_browse, K::button, "Browse...", {426, 99, 62, 22}, G::top},
    {0, K::label, "Output RTMP(S)", {12, 131, 88, 12}, G::top},
    {id::output, K::edit, "", {104, 127, 384, 22}, G::top},
    {0, K::label, "More outputs", {12, 159, 88, 12}, G::top},
    {id::output_new, K::edit, "", {104, 155, 316, 22}, G::top},
    {id::output_add, K::button, "Add", {426, 155, 62, 22}, G::top},
    {id::output_list, K::list, "", {104, 183, 316, 50}, G::top},
    {id::output_remove, K::button, "Remove", {426, 183, 62, 22}, G::top},

    {id::overlay_group, K::group, "Overlay workflow", {12, 244, 476, 164}, G::overlay},
    {id::image_enabled, K::check, "Image overlay", {22, 260, 84, 22}, G::overlay},
    {id::image_path, K::edit, "", {108, 260, 296, 22}, G::overlay},
    {id::image_browse, K::button, "Browse...", {410, 260, 68, 22}, G::overlay},
    {228, K::label, "X %", {22, 292, 22, 12}, G::overlay},
    {id::image_x, K::combo, "", {46, 288, 44, 22}, G::overlay},
    {229, K::label, "Y %", {100, 292, 22, 12}, G::overlay},
    {id::image_y, K::combo, "", {124, 288, 44, 22}, G::overlay},
    {230, K::label, "Image scale %", {182, 292, 62, 12}, G::overlay},
    {id::image_scale, K::digits, "", {246, 288, 44, 22}, G::overlay},
    {234, K::label, "Encoder", {354, 292, 40, 12}, G::overlay},
    {id::encoder, K::combo, "", {396, 288, 82, 22}, G::overlay},
    {id::text_enabled, K::check, "Text overlay", {22, 316, 84, 22}, G::overlay},
    {id::text, K::edit, "", {108, 316, 370, 22}, G::overlay},
    {314, K::label, "Bottom offset %", {22, 348, 70, 12}, G::overlay},
    {id::text_bottom, K::combo, "", {94, 344, 44, 22}, G::overlay},
    {233, K::label, "Font", {152, 348, 24, 12}, G::overlay},
    {id::font_size, K::digits, "", {178, 344, 40, 22}, G::overlay},
    {317, K::label, "Scroll speed", {232, 348, 56, 12}, G::overlay},
    {id::scroll_speed, K::combo, "", {290, 344, 50, 22}, G::overlay},
    {235, K::label, "Bitrate", {354, 348, 40, 12}, G::overlay},
    {id::bitrate, K::edit, "", {396, 344, 64, 22}, G::overlay},
    {315, K::label, "Text color", {22, 376, 48, 12}, G::overlay},
    {id::text_color, K::edit, "", {72, 372, 64, 22}, G::overlay},
    {id::text_color_pick, K::button, "...", {140, 372, 20, 22}, G::overlay},
    {316, K::label, "Background", {176, 376, 52, 12}, G::overlay},
    {id::background_color, K::edit, "", {230, 372, 64, 22}, G::overlay},
    {id::background_color_pick, K::button, "...", {298, 372, 20, 22}, G::overlay},

    {id::record_group, K::group, "Record / Push workflow", {12, 244, 476, 88}, G::record},
    {236, K::label, "Recording directory", {22, 263, 94, 12}, G::record},
    {id::recording_dir, K::edit, "", {120, 259, 360, 22}, G::record},
    {237, K::label, "Poll seconds", {22, 297, 68, 12}, G::record},
    {id::poll_seconds, K::digits, "", {92, 293, 45, 22}, G::record},
    {238, K::label, "Reconnects", {154, 297, 65, 12}, G::record},
    {id::reconnects, K::digits, "", {222, 293, 45, 22}, G::record},
    {id::delete_after_push, K::check, "Delete after successful push", {286, 293, 165, 22}, G::record},

    {id::direct_group, K::group, "Direct workflow", {12, 244, 476, 45}, G::direct},
    {id::prefer_stream_copy, K::check, "Prefer stream copy", {22, 260, 125, 22}, G::direct},
    {id::fallback_transcoding, K::check, "Fallback to transcoding", {175, 260, 145, 22}, G::direct},

    {id::save, K::button, "Save", {348, 432, 66, 24}, G::buttons},
    {id::cancel, K::button, "Cancel", {422, 432, 66, 24}, G::buttons},
};

std::vector<std::string> numbers(int first, int count, int step) {
    std::vector<std::string> items;
    for (int i = 0; i < count; ++i) items.push_back(std::to_string(first + i * step));
    return items;
}

int clamp_percent(int32_t value) {
    return value < 0 ? 0 : (value > 99 ? 99 : value);
}

// A stored speed below 10 opens as 50, and one past the list opens as its
// last entry rather than as no selection (which would save a speed of 0).
int scroll_index(int32_t speed) {
    const int index = (speed >= 10 ? speed : 50) / 10 - 1;
    return index >= SCROLL_STEPS ? SCROLL_STEPS - 1 : index;
}

int encoder_index(const std::string& name) {
    for (size_t i = 0; i < ENCODER_NAMES.size(); ++i) {
        if (iequals(name, ENCODER_NAMES[i])) return static_cast<int>(i);
    }
    return 0;
}

int chosen(int index) {
    return index < 0 ? 0 : index;
}

}  // namespace

std::span<const EditorControl> editor_controls() {
    return CONTROLS;
}

size_t editor_capacity(int control) {
    switch (control) {
        case id::name:
            return NAME_CAPACITY;
        case id::text:
            return OVERLAY_TEXT_CAPACITY;
        case id::bitrate:
            return BITRATE_CAPACITY;
        case id::text_color:
        case id::background_color:
            return COLOUR_CAPACITY;
        case id::image_scale:
        case id::font_size:
        case id::poll_seconds:
        case id::reconnects:
            return NUMBER_CAPACITY;
        default:
            return URL_CAPACITY;
    }
}

std::vector<std::string> editor_items(int control) {
    switch (control) {
        case id::type: {
            std::vector<std::string> items;
            for (int type = 1; type <= TYPE_COUNT; ++type)
                items.emplace_back(workflow_type_editor_name(static_cast<WorkflowType>(type)));
            return items;
        }
        case id::source_type:
            return {"YouTube URL", "Direct URL"};
        case id::scroll_speed:
            return numbers(10, SCROLL_STEPS, 10);
        case id::encoder:
            return {ENCODER_NAMES.begin(), ENCODER_NAMES.end()};
        default:
            return numbers(0, 100, 1);
    }
}

bool editor_is_check(int control) {
    for (const EditorControl& field : CONTROLS) {
        if (field.id == control) return field.kind == ControlKind::check;
    }
    return false;
}

EditorLayout editor_layout(WorkflowType type) {
    const bool mp4 = type == WorkflowType::mp4_loop;
    EditorLayout layout{type == WorkflowType::overlay_stream || mp4,
                        type == WorkflowType::record_then_push,
                        type == WorkflowType::direct_restream,
                        mp4,
                        mp4 ? "MP4 file" : "Source URL",
                        {104, 99, mp4 ? 316 : 384, 22},  // leaves "Browse..." room for its whole text
                        432,
                        462};
    if (layout.record) layout.buttons_y = 340, layout.client_height = 370;
    if (layout.direct) layout.buttons_y = 297, layout.client_height = 327;
    return layout;
}

WorkflowType editor_type_at(int index) {
    return static_cast<WorkflowType>(chosen(index) + 1);
}

DluRect editor_place(const EditorControl& control, const EditorLayout& layout) {
    if (control.id == id::source) return layout.source;
    if (control.group == EditorGroup::buttons)
        return {control.place.x, layout.buttons_y, control.place.width, control.place.height};
    return control.place;
}

bool editor_shows(const EditorLayout& layout, const EditorControl& control) {
    switch (control.group) {
        case EditorGroup::overlay:
            return layout.overlay;
        case EditorGroup::record:
            return layout.record;
        case EditorGroup::direct:
            return layout.direct;
        default:
            break;
    }
    if (control.id == id::source_browse) return layout.mp4;
    if (control.id == id::source_type || control.id == id::source_type_label) return !layout.mp4;
    return true;
}

EditorForm editor_form_from(const WorkflowSettings& s) {
    EditorForm form;
    // A type the list does not offer (only a hand-edited file has one) lists
    // as "Direct" in the main window, so it opens as Direct Restream.
    const int type_index = static_cast<int>(s.type) - 1;
    form.type =
        type_index >= 0 && type_index < TYPE_COUNT ? type_index : static_cast<int>(WorkflowType::direct_restream) - 1;
    form.source_type = s.source_type == SourceType::youtube ? 0 : 1;
    form.enabled = s.enabled;
    form.name = s.name, form.source = s.source, form.output = s.output_url;
    form.outputs = s.extra_outputs;
    form.image_enabled = s.image_enabled, form.image_path = s.image_path;
    form.image_x = clamp_percent(s.image_x_pct), form.image_y = clamp_percent(s.image_y_pct);
    form.image_scale = std::to_string(s.image_scale_pct);
    form.text_enabled = s.text_enabled, form.text = s.text;
    form.text_bottom = clamp_percent(s.text_bottom_pct);
    form.font_size = std::to_string(s.font_size);
    form.text_color = editor_format_color(s.text_color);
    form.background_color = editor_format_color(s.background_color);
    form.scroll_speed = scroll_index(s.scroll_speed);
    form.encoder = encoder_index(s.encoder);
    form.bitrate = s.bitrate, form.recording_dir = s.recording_dir;
    form.poll_seconds = std::to_string(s.poll_seconds), form.reconnects = std::to_string(s.reconnects);
    form.delete_after_push = s.delete_after_push;
    form.prefer_stream_copy = s.prefer_stream_copy, form.fallback_transcoding = s.fallback_transcoding;
    return form;
}

std::variant<WorkflowSettings, EditorProblem> editor_form_read(const EditorForm& form,
                                                               const WorkflowSettings& original) {
    WorkflowSettings s = original;  // fields no control edits travel unchanged
    s.name = utf16_fit(form.name, NAME_CAPACITY);
    s.type = editor_type_at(form.type);
    s.source_type = chosen(form.source_type) == 0 ? SourceType::youtube : SourceType::direct;
    s.enabled = form.enabled;
    s.source = utf16_fit(form.source, URL_CAPACITY);
    s.output_url = utf16_fit(form.output, URL_CAPACITY);
    s.extra_outputs = form.outputs;
    s.image_enabled = form.image_enabled;
    s.image_path = utf16_fit(form.image_path, URL_CAPACITY);
    s.text_enabled = form.text_enabled;
    s.bitrate = utf16_fit(form.bitrate, BITRATE_CAPACITY);
    if (std::optional<EditorProblem> problem = editor_check(s)) return *problem;
    s.image_x_pct = chosen(form.image_x);
    s.image_y_pct = chosen(form.image_y);
    s.image_scale_pct = editor_read_decimal(form.image_scale);
    s.text = utf16_fit(form.text, OVERLAY_TEXT_CAPACITY);
    s.reserved = 0;
    s.text_bottom_pct = chosen(form.text_bottom);
    s.font_size = editor_read_decimal(form.font_size);
    const std::optional<uint32_t> text_rgb = editor_parse_color(utf16_fit(form.text_color, COLOUR_CAPACITY));
    if (!text_rgb) return editor_color_problem(EditorField::text_color);
    const std::optional<uint32_t> back_rgb = editor_parse_color(utf16_fit(form.background_color, COLOUR_CAPACITY));
    if (!back_rgb) return editor_color_problem(EditorField::background_color);
    s.text_color = *text_rgb;
    s.background_color = *back_rgb;
    s.scroll_speed = (chosen(form.scroll_speed) + 1) * 10;
    s.encoder = ENCODER_NAMES[static_cast<size_t>(chosen(form.encoder)) % ENCODER_NAMES.size()];
    s.recording_dir = utf16_fit(form.recording_dir, URL_CAPACITY);
    s.poll_seconds = editor_poll_seconds(editor_read_decimal(form.poll_seconds));
    s.reconnects = editor_read_decimal(form.reconnects);
    s.delete_after_push = form.delete_after_push;
    s.prefer_stream_copy = form.prefer_stream_copy;
    s.fallback_transcoding = form.fallback_transcoding;
    return s;
}

int editor_focus_id(EditorField field) {
    switch (field) {
        case EditorField::name:
            return id::name;
        case EditorField::source:
            return id::source;
        case EditorField::output:
            return id::output;
        case EditorField::image_path:
            return id::image_path;
        case EditorField::bitrate:
            return id::bitrate;
        case EditorField::text_color:
            return id::text_color;
        case EditorField::background_color:
            return id::background_color;
    }
    return id::name;
}

int32_t editor_read_decimal(const std::string& text) {
    const std::string cut = utf16_fit(text, NUMBER_CAPACITY);
    size_t position = 0;
    while (position < cut.size() && (cut[position] == ' ' || cut[position] == '\t')) ++position;
    bool negative = false;
    if (position < cut.size() && (cut[position] == '-' || cut[position] == '+')) negative = cut[position++] == '-';
    long long value = 0;
    for (; position < cut.size() && cut[position] >= '0' && cut[position] <= '9'; ++position) {
        value = value * 10 + (cut[position] - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int32_t>(value);
}

bool editor_path_fits(const std::string& path) {
    return !path.empty() && utf16_fit(path, URL_CAPACITY) == path;
}

uint32_t editor_picker_start(const std::string& text) {
    return editor_parse_color(utf16_fit(text, COLOUR_CAPACITY)).value_or(0);
}

std::vector<OutputRow> editor_output_rows(const std::vector<ExtraOutput>& outputs) {
    std::vector<OutputRow> rows;
    for (const ExtraOutput& extra : outputs) rows.push_back({mask_stream_key(extra.url), extra.enabled});
    return rows;
}

std::optional<EditorProblem> editor_add_output(EditorForm& form, const std::string& typed) {
    const std::string url = utf16_fit(typed, URL_CAPACITY);
    auto refused = [](std::string message) {
        return EditorProblem{EditorField::output, check_message::editor_output_title, std::move(message)};
    };
    static_assert(MAX_OUTPUTS == 8, "the refusal names the limit");
    if (form.outputs.size() + 1 >= MAX_OUTPUTS) return refused(check_message::outputs_too_many);
    if (std::string problem = output_problem(url, false); !problem.empty()) return refused(problem);
    if (same_output(form.output, url)) return refused(check_message::outputs_same);
    for (const ExtraOutput& extra : form.outputs) {
        if (same_output(extra.url, url)) return refused(check_message::outputs_same);
    }
    form.outputs.push_back({.url = url});
    return std::nullopt;
}

void editor_remove_output(EditorForm& form, size_t row) {
    if (row < form.outputs.size()) form.outputs.erase(form.outputs.begin() + static_cast<ptrdiff_t>(row));
}
