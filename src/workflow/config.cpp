// config.tsv reading and writing.
//
// Reading mirrors the Windows build's line reader so that the same file
// gives the same list on both: a line longer than 16383 UTF-16 units arrives
// in pieces, each taken as a line of its own; a CR or LF ends a line's last
// field; the 30th field keeps the rest of the line, tabs included; numbers
// are read as the C library reads a 32-bit long (leading blanks, a sign,
// digits, saturating), so a hand-edited file cannot make them overflow.
#include "workflow/config.h"

#include <cstdint>
#include <limits>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "workflow/workflow.h"

namespace {

constexpr std::string_view BOM = "\xEF\xBB\xBF";
constexpr size_t LINE_CAPACITY = 16384;  // UTF-16 units, terminator included
constexpr size_t MAX_FIELDS = 30;
constexpr size_t SHORT_RECORD_FIELDS = 27;

// Splits one line into at most 30 fields; a CR or LF ends the line.
std::vector<std::string_view> split_fields(std::string_view line) {
    size_t end = line.find_first_of("\r\n");
    if (end != std::string_view::npos) line = line.substr(0, end);
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (fields.size() + 1 < MAX_FIELDS) {
        size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) break;
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

// Leading blanks, an optional sign and digits, as strtol reads them.
bool read_digits(std::string_view text, bool* negative, uint64_t* magnitude, uint64_t cap) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
    *negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) *negative = text[at++] == '-';
    return read_decimal(text.substr(at), cap, magnitude) > 0;
}

int32_t read_signed(std::string_view text) {
    bool negative = false;
    uint64_t magnitude = 0;
    if (!read_digits(text, &negative, &magnitude, uint64_t{1} << 32)) return 0;
    if (negative)
        return magnitude > 0x80000000u ? std::numeric_limits<int32_t>::min()
                                       : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    return magnitude > 0x7FFFFFFFu ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(magnitude);
}

uint32_t read_unsigned(std::string_view text) {
    bool negative = false;
    uint64_t magnitude = 0;
    if (!read_digits(text, &negative, &magnitude, uint64_t{1} << 32)) return 0;
    if (magnitude > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    uint32_t value = static_cast<uint32_t>(magnitude);
    return negative ? static_cast<uint32_t>(0u - value) : value;
}

std::string read_text(std::string_view text, size_t capacity) {
    return utf16_fit(text, capacity);
}

void apply_record(WorkflowSettings& s, uint32_t* id, const std::vector<std::string_view>& f) {
    *id = read_unsigned(f[1]);
    s.type = read_signed(f[2]);
    s.source_type = read_signed(f[3]);
    s.enabled = read_signed(f[4]);
    s.name = read_text(f[5], NAME_CAPACITY);
    s.source = read_text(f[6], URL_CAPACITY);
    s.output_url = read_text(f[7], URL_CAPACITY);
    s.image_enabled = read_signed(f[8]);
    s.image_path = read_text(f[9], URL_CAPACITY);
    s.image_x_pct = read_signed(f[10]);
    s.image_y_pct = read_signed(f[11]);
    s.image_scale_pct = read_signed(f[12]);
    s.text_enabled = read_signed(f[13]);
    s.text = read_text(f[14], OVERLAY_TEXT_CAPACITY);
    s.reserved = read_signed(f[15]);
    s.text_bottom_pct = read_signed(f[16]);
    s.font_size = read_signed(f[17]);
    s.encoder = read_text(f[18], ENCODER_CAPACITY);
    s.bitrate = read_text(f[19], BITRATE_CAPACITY);
    s.audio_codec = read_text(f[20], AUDIO_CODEC_CAPACITY);
    s.recording_dir = read_text(f[21], URL_CAPACITY);
    s.poll_seconds = read_signed(f[22]);
    s.reconnects = read_signed(f[23]);
    s.delete_after_push = read_signed(f[24]);
    s.prefer_stream_copy = read_signed(f[25]);
    s.fallback_transcoding = read_signed(f[26]);
    if (f.size() == MAX_FIELDS) {
        s.scroll_speed = read_signed(f[27]);
        s.text_color = read_unsigned(f[28]);
        s.background_color = read_unsigned(f[29]);
    }
}

bool is_header(const std::vector<std::string_view>& fields) {
    return fields.size() >= 2 && (fields[0] == "VELTRONA" || fields[0] == "MORVANTIX");
}

// Appends one record line; lines of other shapes are skipped.
void load_record(WorkflowList& list, const std::vector<std::string_view>& fields) {
    if ((fields.size() != SHORT_RECORD_FIELDS && fields.size() != MAX_FIELDS) || fields[0] != "W") return;
    if (list.workflows.size() >= MAX_WORKFLOWS) return;
    WorkflowPtr workflow(workflow_create(list));
    uint32_t id = 0;
    apply_record(workflow->settings, &id, fields);
    workflow->id = id;
    // A hand-edited id at the top of the range must not wrap next_id to 0,
    // from where new workflows would take ids that are already in use.
    if (id >= list.next_id && id != UINT32_MAX) list.next_id = id + 1;
    list.workflows.push_back(std::move(workflow));
}

// The pieces the line reader delivers for one physical line (LF included).
std::vector<std::string_view> line_pieces(std::string_view line) {
    std::vector<std::string_view> pieces;
    while (!line.empty()) {
        size_t take = utf16_fit(line, LINE_CAPACITY).size();
        if (take == 0) take = line.size();
        pieces.push_back(line.substr(0, take));
        line.remove_prefix(take);
    }
    return pieces;
}

std::string clean_text(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

void clean_record(WorkflowSettings& s) {
    for (std::string* text : {&s.name, &s.source, &s.output_url, &s.image_path, &s.text, &s.recording_dir, &s.encoder,
                              &s.bitrate, &s.audio_codec}) {
        *text = clean_text(std::move(*text));
    }
}

std::string record_line(uint32_t id, const WorkflowSettings& s) {
    return string_printf(
        "W\t%u\t%d\t%d\t%d\t%s\t%s\t%s\t%d\t%s\t%d\t%d\t%d\t%d\t%s\t%d\t%d\t%d\t%s\t%s\t%s\t%s\t%d\t%d\t%d\t%d\t%d\t%"
        "d\t%u\t%u\r\n",
        id, s.type, s.source_type, s.enabled, s.name.c_str(), s.source.c_str(), s.output_url.c_str(), s.image_enabled,
        s.image_path.c_str(), s.image_x_pct, s.image_y_pct, s.image_scale_pct, s.text_enabled, s.text.c_str(),
        s.reserved, s.text_bottom_pct, s.font_size, s.encoder.c_str(), s.bitrate.c_str(), s.audio_codec.c_str(),
        s.recording_dir.c_str(), s.poll_seconds, s.reconnects, s.delete_after_push, s.prefer_stream_copy,
        s.fallback_transcoding, s.scroll_speed, s.text_color, s.background_color);
}

}  // namespace

bool config_load(WorkflowList& list) {
    std::string content;
    if (!file_read_all(list.config_path, &content)) return true;
    return config_read(list, content);
}

bool config_read(WorkflowList& list, std::string_view content) {
    std::string_view rest(content);
    if (rest.substr(0, BOM.size()) == BOM) rest.remove_prefix(BOM.size());
    bool first = true;
    while (!rest.empty()) {
        size_t newline = rest.find('\n');
        size_t length = newline == std::string_view::npos ? rest.size() : newline + 1;
        for (std::string_view piece : line_pieces(rest.substr(0, length))) {
            std::vector<std::string_view> fields = split_fields(piece);
            if (first && !is_header(fields)) return false;
            if (!first) load_record(list, fields);
            first = false;
        }
        rest.remove_prefix(length);
    }
    return true;
}

bool config_save(WorkflowList& list) {
    std::string temp_path = utf16_fit(list.config_path + ".tmp", PATH_CAPACITY);
    std::string content(BOM);
    content += "VELTRONA\t1\r\n";
    for (const WorkflowPtr& workflow : list.workflows) {
        std::lock_guard guard(workflow->lock);
        clean_record(workflow->settings);
        content += record_line(workflow->id, workflow->settings);
    }
    return file_replace_private(list.config_path, temp_path, content);
}
