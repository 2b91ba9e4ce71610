// The checks the workflow editor applies when the user saves, shared by the
// desktop editor and `veltrona-cli add` so both refuse the same input with
// the same words. Each problem names the field to focus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "workflow/workflow.h"

enum class EditorField { name, source, output, image_path, bitrate, text_color, background_color };

struct EditorProblem {
    EditorField field;
    std::string title;    // the warning box's title, e.g. "Invalid output URL"
    std::string message;  // e.g. "Enter a workflow name."
};

// Name, source, output, image and bitrate checks, in the editor's order.
[[nodiscard]] std::optional<EditorProblem> editor_check(const WorkflowSettings& settings);

// The editor's refusal of a colour text that editor_parse_color rejects;
// `field` is text_color or background_color.
[[nodiscard]] EditorProblem editor_color_problem(EditorField field);

// "#RRGGBB" (hex digits in either case) to 0x00BBGGRR; nullopt when invalid.
[[nodiscard]] std::optional<uint32_t> editor_parse_color(std::string_view text);
// 0x00BBGGRR to "#RRGGBB"; all ones shows as black.
[[nodiscard]] std::string editor_format_color(uint32_t color);
// Poll seconds below 5 become 15.
[[nodiscard]] int32_t editor_poll_seconds(int32_t typed);
