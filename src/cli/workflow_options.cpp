// Option table for add and edit. Texts are cut to the editor's capacities;
// lists (positions, scroll speeds, encoders) take only what the editor's
// drop-down lists offer; colours go through the editor's own check.
#include "cli/workflow_options.h"

#include <cstdlib>
#include <map>

#include "platform/text/text.h"
#include "workflow/editor_rules.h"

namespace {

constexpr uint64_t PERCENT_MAX = 99;  // the editor's position lists run 0..99
constexpr uint64_t SCROLL_MIN = 10, SCROLL_MAX = 200, SCROLL_STEP = 10;

using Problem = std::optional<OptionProblem>;

Problem usage(std::string text) {
    return OptionProblem{false, std::move(text)};
}

Problem read_number(const std::string& option, const std::string& value, uint64_t max, int32_t* field) {
    uint64_t number = 0;
    if (!parse_whole(value, max, &number)) {
        return usage(option + " takes a whole number from 0 to " + std::to_string(max));
    }
    *field = static_cast<int32_t>(number);
    return std::nullopt;
}

Problem read_flag(const std::string& option, const std::string& value, bool* field) {
    if (value != "yes" && value != "no") return usage(option + " takes yes or no");
    *field = value == "yes";
    return std::nullopt;
}

Problem read_color(EditorField field, const std::string& value, uint32_t* color) {
    std::optional<uint32_t> parsed = editor_parse_color(value);
    if (!parsed) {
        EditorProblem problem = editor_color_problem(field);
        return OptionProblem{true, problem.title + ": " + problem.message};
    }
    *color = *parsed;
    return std::nullopt;
}

Problem read_type(const std::string& value, WorkflowType* type) {
    static const std::map<std::string, WorkflowType> names = {{"overlay", WorkflowType::overlay_stream},
                                                              {"record", WorkflowType::record_then_push},
                                                              {"direct", WorkflowType::direct_restream},
                                                              {"mp4", WorkflowType::mp4_loop}};
    auto found = names.find(value);
    if (found == names.end()) return usage("--type takes direct, record, overlay or mp4");
    *type = found->second;
    return std::nullopt;
}

Problem read_scroll(const std::string& value, int32_t* speed) {
    uint64_t number = 0;
    if (!parse_whole(value, SCROLL_MAX, &number) || number < SCROLL_MIN || number % SCROLL_STEP != 0) {
        return usage("--scroll-speed takes 10, 20, ... 200");
    }
    *speed = static_cast<int32_t>(number);
    return std::nullopt;
}

Problem read_encoder(const std::string& value, std::string* encoder) {
    if (value != "Auto" && value != "Hardware H.264" && value != "Software H.264") {
        return usage("--encoder takes \"Auto\", \"Hardware H.264\" or \"Software H.264\"");
    }
    *encoder = value;
    return std::nullopt;
}

// Output N (1 = the output URL) of `s`, from 1 to the number it has, or
// from 2 when `first_too` is false.
Problem read_output_number(const WorkflowSettings& s, const std::string& option, const std::string& value,
                           bool first_too, size_t* index) {
    uint64_t number = 0;
    const size_t count = s.extra_outputs.size() + 1, lowest = first_too ? 1 : 2;
    if (!parse_whole(value, count, &number) || number < lowest) {
        return usage(string_printf("%s takes an output number from %zu to %zu", option.c_str(), lowest, count));
    }
    *index = static_cast<size_t>(number) - 1;
    return std::nullopt;
}

Problem remove_output(WorkflowSettings& s, size_t index) {
    std::vector<ExtraOutput>& extras = s.extra_outputs;
    if (index > 0) {
        extras.erase(extras.begin() + static_cast<std::ptrdiff_t>(index - 1));
        return std::nullopt;
    }
    // Output 2 takes the first place, which has no switch of its own.
    if (extras.empty() || !extras.front().enabled) {
        return usage("--remove-output 1 needs an enabled output 2 to take its place");
    }
    s.output_url = extras.front().url;
    extras.erase(extras.begin());
    return std::nullopt;
}

// --output (repeatable: the first of a command replaces every output, the
// next ones follow it), --add-output, --enable-output, --disable-output and
// --remove-output; `listed` says an --output was already seen.
Problem apply_output(WorkflowSettings& s, const std::string& option, const std::string& value, bool* listed) {
    const bool adds = option == "--add-output" || (option == "--output" && *listed);
    if (option == "--output" && !*listed) {
        s.output_url = utf16_fit(value, URL_CAPACITY);
        s.extra_outputs.clear();
        *listed = true;
        return std::nullopt;
    }
    if (adds) {
        if (s.extra_outputs.size() + 1 >= MAX_OUTPUTS) return usage(string_printf("at most %zu outputs", MAX_OUTPUTS));
        s.extra_outputs.push_back({.url = utf16_fit(value, URL_CAPACITY)});
        return std::nullopt;
    }
    size_t index = 0;
    const bool remove = option == "--remove-output";
    if (Problem problem = read_output_number(s, option, value, remove, &index)) return problem;
    if (remove) return remove_output(s, index);
    s.extra_outputs[index - 1].enabled = option == "--enable-output";
    return std::nullopt;
}

bool is_output_option(const std::string& option) {
    for (const char* name : {"--output", "--add-output", "--enable-output", "--disable-output", "--remove-output"}) {
        if (option == name) return true;
    }
    return false;
}

Problem apply_one(WorkflowSettings& s, const std::string& option, const std::string& value) {
    if (option == "--type") return read_type(value, &s.type);
    if (option == "--name")
        s.name = utf16_fit(value, NAME_CAPACITY);
    else if (option == "--source")
        s.source = utf16_fit(value, URL_CAPACITY);
    else if (option == "--recording-dir")
        s.recording_dir = utf16_fit(value, URL_CAPACITY);
    else if (option == "--bitrate")
        s.bitrate = utf16_fit(value, BITRATE_CAPACITY);
    else if (option == "--source-type") {
        if (value != "youtube" && value != "direct") return usage("--source-type takes youtube or direct");
        s.source_type = value == "youtube" ? SourceType::youtube : SourceType::direct;
    } else if (option == "--poll-seconds") {
        Problem problem = read_number(option, value, 0x7FFFFFFF, &s.poll_seconds);
        s.poll_seconds = editor_poll_seconds(s.poll_seconds);
        return problem;
    } else if (option == "--image") {
        s.image_enabled = true;
        s.image_path = utf16_fit(value, URL_CAPACITY);
    } else if (option == "--text") {
        s.text_enabled = true;
        s.text = utf16_fit(value, OVERLAY_TEXT_CAPACITY);
    } else if (option == "--encoder")
        return read_encoder(value, &s.encoder);
    else if (option == "--enabled")
        return read_flag(option, value, &s.enabled);
    else if (option == "--image-enabled")
        return read_flag(option, value, &s.image_enabled);
    else if (option == "--text-enabled")
        return read_flag(option, value, &s.text_enabled);
    else if (option == "--delete-after-push")
        return read_flag(option, value, &s.delete_after_push);
    else if (option == "--prefer-stream-copy")
        return read_flag(option, value, &s.prefer_stream_copy);
    else if (option == "--fallback-transcoding")
        return read_flag(option, value, &s.fallback_transcoding);
    else if (option == "--image-x")
        return read_number(option, value, PERCENT_MAX, &s.image_x_pct);
    else if (option == "--image-y")
        return read_number(option, value, PERCENT_MAX, &s.image_y_pct);
    else if (option == "--text-bottom")
        return read_number(option, value, PERCENT_MAX, &s.text_bottom_pct);
    else if (option == "--image-scale")
        return read_number(option, value, 0x7FFFFFFF, &s.image_scale_pct);
    else if (option == "--font-size")
        return read_number(option, value, 0x7FFFFFFF, &s.font_size);
    else if (option == "--reconnects")
        return read_number(option, value, 0x7FFFFFFF, &s.reconnects);
    else if (option == "--scroll-speed")
        return read_scroll(value, &s.scroll_speed);
    else if (option == "--text-color")
        return read_color(EditorField::text_color, value, &s.text_color);
    else if (option == "--background-color") {
        return read_color(EditorField::background_color, value, &s.background_color);
    } else {
        return usage("unknown option " + option);
    }
    return std::nullopt;
}

}  // namespace

const char* const WORKFLOW_OPTIONS_USAGE =
    "    workflow options (add and edit):\n"
    "      --type direct|record|overlay|mp4  --name NAME  --source SRC\n"
    "      --output URL (again for each further output, up to 8; replaces the outputs)\n"
    "      --add-output URL  --enable-output N  --disable-output N  --remove-output N\n"
    "      --source-type youtube|direct  --enabled yes|no  --recording-dir DIR  --poll-seconds N\n"
    "      --reconnects N  --delete-after-push yes|no  --prefer-stream-copy yes|no\n"
    "      --fallback-transcoding yes|no  --bitrate TEXT  --encoder Auto|\"Hardware "
    "H.264\"|\"Software H.264\"\n"
    "      --image PATH  --image-enabled yes|no  --image-x 0-99  --image-y 0-99  --image-scale "
    "PERCENT\n"
    "      --text TEXT  --text-enabled yes|no  --text-bottom 0-99  --font-size N  --scroll-speed "
    "10-200\n"
    "      --text-color #RRGGBB  --background-color #RRGGBB\n";

std::optional<OptionProblem> apply_workflow_options(WorkflowSettings& settings, const std::vector<std::string>& args,
                                                    std::vector<std::string>* given) {
    bool listed = false;
    for (size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return usage(args[i] + " is missing its value");
        const std::string &option = args[i], &value = args[i + 1];
        Problem problem = is_output_option(option) ? apply_output(settings, option, value, &listed)
                                                   : apply_one(settings, option, value);
        if (problem) return problem;
        given->push_back(args[i]);
    }
    return std::nullopt;
}

bool parse_whole(const std::string& text, uint64_t max, uint64_t* value) {
    uint64_t number = 0;
    if (text.empty() || read_decimal(text, max + 1, &number) != text.size() || number > max) return false;
    *value = number;
    return true;
}
