// The editor's save checks, in the order the editor applies them.
#include "workflow/editor_rules.h"

#include "platform/files/folders.h"
#include "platform/text/text.h"
#include "workflow/check_messages.h"
#include "workflow/validate.h"

namespace {

EditorProblem problem(EditorField field, const char* title, std::string message) {
    return EditorProblem{field, title, std::move(message)};
}

}  // namespace

std::optional<EditorProblem> editor_check(const WorkflowSettings& s) {
    if (s.name.empty()) return problem(EditorField::name, check_message::editor_name_title, check_message::editor_name);
    if (s.type == WorkflowType::mp4_loop) {
        if (!is_mp4_file_path(s.source)) {
            return problem(EditorField::source, check_message::editor_mp4_title, check_message::editor_mp4);
        }
    } else {
        bool youtube = s.source_type == SourceType::youtube;
        if (!url_check(s.source, youtube, false)) {
            return problem(EditorField::source, check_message::editor_source_title,
                           youtube ? youtube_source_message() : check_message::source_invalid);
        }
    }
    if (!url_check(s.output_url, false, true)) {
        return problem(EditorField::output, check_message::editor_output_title, check_message::output_invalid);
    }
    if (std::string outputs = extra_outputs_problem(s, false); !outputs.empty()) {
        return problem(EditorField::output, check_message::editor_output_title, outputs);
    }
    if (s.image_enabled && (s.image_path.empty() || !path_exists(s.image_path))) {
        return problem(EditorField::image_path, check_message::editor_image_title, check_message::editor_image);
    }
    if (!bitrate_acceptable(s)) {
        return problem(EditorField::bitrate, check_message::editor_bitrate_title, check_message::bitrate_out_of_range);
    }
    return std::nullopt;
}

EditorProblem editor_color_problem(EditorField field) {
    if (field == EditorField::background_color) {
        return problem(field, "Invalid background color", "Enter the background color as #RRGGBB.");
    }
    return problem(EditorField::text_color, "Invalid text color", "Enter the text color as #RRGGBB.");
}

std::optional<uint32_t> editor_parse_color(std::string_view text) {
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    uint32_t rgb = 0;
    for (char c : text.substr(1)) {
        int digit = hex_digit_value(c);
        if (digit < 0) return std::nullopt;
        rgb = rgb * 16 + static_cast<uint32_t>(digit);
    }
    uint32_t red = (rgb >> 16) & 0xFF, green = (rgb >> 8) & 0xFF, blue = rgb & 0xFF;
    return red | (green << 8) | (blue << 16);
}

std::string editor_format_color(uint32_t color) {
    if (color == 0xFFFFFFFFu) color = 0;
    return string_printf("#%02X%02X%02X", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

int32_t editor_poll_seconds(int32_t typed) {
    return typed < 5 ? 15 : typed;
}
