// config.tsv reading and writing.
//
// Reading mirrors the Windows build's line reader so that the same file
// gives the same list on both: a line longer than 16383 UTF-16 units arrives
// in pieces, each taken as a line of its own; a CR or LF ends a line's last
// field; the 30th field keeps the rest of the line, tabs included; numbers
// are read as the C library reads a 32-bit long (leading blanks, a sign,
// digits, saturating), so a hand-edited file cannot make them overflow.
//
// The lock is config.tsv.lock beside the file. Its holder reads, changes
// and saves within milliseconds, so a program that finds it taken retries
// for a while; a lock that cannot even be created (a read-only folder) fails
// at once.
//
// A workflow's outputs beyond the first are lines of their own right after
// its record, "O" TAB id TAB enabled TAB url: four fields, which a reader
// that knows only "W" records skips (such a reader keeps the first output).
// An "O" line whose id is not that of the record just read is skipped too.
#include "workflow/config.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/files/file_lock.h"
#include "platform/files/files.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "workflow/workflow.h"

namespace {

constexpr std::string_view BOM = "\xEF\xBB\xBF";
constexpr size_t LINE_CAPACITY = 16384;  // UTF-16 units, terminator included
constexpr size_t MAX_FIELDS = 30;
constexpr size_t SHORT_RECORD_FIELDS = 27;
constexpr size_t OUTPUT_FIELDS = 4;
constexpr uint64_t LOCK_WAIT_MS = 10000;
constexpr auto LOCK_RETRY = std::chrono::milliseconds(5);
constexpr int LOCK_UNHELD_TRIES = 3;

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

// One row per column of a record line after the kind letter and the id
// (fields 0 and 1), in file order. The member's type says how the column is
// read and written: text cut to `capacity`; a flag as 0 or 1 (any number but
// 0 in a hand-edited file reads as set, and is saved back as 1); an enum or
// a signed number as signed decimal, kept as it is even where no type has
// that number; a colour as unsigned decimal. A field's
// default is its WorkflowSettings default; it stays when a 27-field line
// from older versions ends before its column.
using Field = std::variant<std::string WorkflowSettings::*, int32_t WorkflowSettings::*, uint32_t WorkflowSettings::*,
                           bool WorkflowSettings::*, WorkflowType WorkflowSettings::*, SourceType WorkflowSettings::*>;

struct Column {
    Field field;
    size_t capacity = 0;  // text columns: UTF-16 units, terminator included
};

using S = WorkflowSettings;
const Column COLUMNS[] = {
    {&S::type},
    {&S::source_type},
    {&S::enabled},
    {&S::name, NAME_CAPACITY},
    {&S::source, URL_CAPACITY},
    {&S::output_url, URL_CAPACITY},
    {&S::image_enabled},
    {&S::image_path, URL_CAPACITY},
    {&S::image_x_pct},
    {&S::image_y_pct},
    {&S::image_scale_pct},
    {&S::text_enabled},
    {&S::text, OVERLAY_TEXT_CAPACITY},
    {&S::reserved},
    {&S::text_bottom_pct},
    {&S::font_size},
    {&S::encoder, ENCODER_CAPACITY},
    {&S::bitrate, BITRATE_CAPACITY},
    {&S::audio_codec, AUDIO_CODEC_CAPACITY},
    {&S::recording_dir, URL_CAPACITY},
    {&S::poll_seconds},
    {&S::reconnects},
    {&S::delete_after_push},
    {&S::prefer_stream_copy},
    {&S::fallback_transcoding},
    // Fields 27 to 29: absent from 27-field lines.
    {&S::scroll_speed},
    {&S::text_color},
    {&S::background_color},
};
constexpr size_t FIRST_COLUMN = 2;
static_assert(FIRST_COLUMN + std::size(COLUMNS) == MAX_FIELDS);

template <typename Member>
using ValueOf = std::remove_cvref_t<decltype(std::declval<WorkflowSettings&>().*std::declval<Member>())>;

void read_column(const Column& column, WorkflowSettings& s, std::string_view text) {
    std::visit(
        [&](auto member) {
            using T = ValueOf<decltype(member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                s.*member = utf16_fit(text, column.capacity);
            } else if constexpr (std::is_same_v<T, bool>) {
                s.*member = read_signed(text) != 0;
            } else if constexpr (std::is_same_v<T, uint32_t>) {
                s.*member = read_unsigned(text);
            } else {
                s.*member = static_cast<T>(read_signed(text));  // int32_t and the enums
            }
        },
        column.field);
}

void write_column(std::string& line, const Column& column, const WorkflowSettings& s) {
    std::visit(
        [&](auto member) {
            using T = ValueOf<decltype(member)>;
            const T& value = s.*member;
            if constexpr (std::is_same_v<T, std::string>) {
                line += value;
            } else if constexpr (std::is_same_v<T, bool>) {
                line += value ? '1' : '0';
            } else if constexpr (std::is_same_v<T, uint32_t>) {
                line += std::to_string(value);
            } else {
                line += std::to_string(static_cast<int32_t>(value));
            }
        },
        column.field);
}

void apply_record(WorkflowSettings& s, uint32_t* id, const std::vector<std::string_view>& f) {
    *id = read_unsigned(f[1]);
    for (size_t at = FIRST_COLUMN; at < f.size(); ++at) read_column(COLUMNS[at - FIRST_COLUMN], s, f[at]);
}

bool is_header(const std::vector<std::string_view>& fields) {
    return fields.size() >= 2 && (fields[0] == "VELTRONA" || fields[0] == "MORVANTIX");
}

// Adds an output line to the record it follows.
void load_output(WorkflowList& list, const std::vector<std::string_view>& fields) {
    if (fields.size() != OUTPUT_FIELDS || list.workflows.empty()) return;
    Workflow& workflow = *list.workflows.back();
    std::vector<ExtraOutput>& extras = workflow.settings.extra_outputs;
    if (read_unsigned(fields[1]) != workflow.id || extras.size() + 1 >= MAX_OUTPUTS) return;
    extras.push_back({.url = utf16_fit(fields[3], URL_CAPACITY), .enabled = read_signed(fields[2]) != 0});
}

// Appends one record line, or an output line to its record; lines of other
// shapes are skipped.
void load_record(WorkflowList& list, const std::vector<std::string_view>& fields) {
    if (fields[0] == "O") return load_output(list, fields);
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

// Text fields carry no escaping: tabs and line breaks would change the
// line's shape, so they become spaces, in the record too.
void clean_text(std::string& text) {
    for (char& c : text) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
}

void clean_record(WorkflowSettings& s) {
    for (const Column& column : COLUMNS) {
        if (auto* member = std::get_if<std::string WorkflowSettings::*>(&column.field)) clean_text(s.**member);
    }
    for (ExtraOutput& extra : s.extra_outputs) clean_text(extra.url);
}

// The record line of a workflow and the lines of its further outputs.
std::string record_lines(uint32_t id, const WorkflowSettings& s) {
    std::string line = "W\t" + std::to_string(id);
    for (const Column& column : COLUMNS) {
        line += '\t';
        write_column(line, column, s);
    }
    line += "\r\n";
    for (const ExtraOutput& extra : s.extra_outputs) {
        line += "O\t" + std::to_string(id) + (extra.enabled ? "\t1\t" : "\t0\t") + extra.url + "\r\n";
    }
    return line;
}

// Waits while another program holds the lock; gives up soon when nobody
// holds it and it still cannot be taken (the file cannot be created).
FileLockPtr take_lock(const std::string& path) {
    const uint64_t deadline = tick_ms() + LOCK_WAIT_MS;
    int unheld = 0;
    for (;;) {
        if (FileLockPtr lock = file_lock_take(path)) return lock;
        unheld = file_lock_held(path) ? 0 : unheld + 1;
        if (unheld > LOCK_UNHELD_TRIES || tick_ms() >= deadline) return nullptr;
        std::this_thread::sleep_for(LOCK_RETRY);
    }
}

// An empty list saved in the same place, whose records report to the same context.
WorkflowList list_like(const WorkflowList& list) {
    WorkflowList like;
    like.config_path = list.config_path, like.recordings_dir = list.recordings_dir, like.context = list.context;
    return like;
}

}  // namespace

ConfigLoad config_load(WorkflowList& list, std::string* error) {
    std::string content, reason;
    switch (file_read_all(list.config_path, &content, &reason)) {
        case FileRead::missing:
            return ConfigLoad::loaded;
        case FileRead::failed:
            if (error) *error = list.config_path + " cannot be read: " + reason;
            return ConfigLoad::unreadable;
        case FileRead::ok:
            break;
    }
    if (config_read(list, content)) return ConfigLoad::loaded;
    if (error) *error = list.config_path + " is not a workflow list.";
    return ConfigLoad::malformed;
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
    if (list.config_path.empty() || !path_fits(list.config_path + std::string(TEMP_NAME_SUFFIX))) return false;
    std::string content(BOM);
    content += "VELTRONA\t1\r\n";
    for (const WorkflowPtr& workflow : list.workflows) {
        std::lock_guard guard(workflow->lock);
        clean_record(workflow->settings);
        content += record_lines(workflow->id, workflow->settings);
    }
    return file_replace_private(list.config_path, content);
}

bool config_update(WorkflowList& list, const std::function<bool(WorkflowList& saved)>& change, std::string* error) {
    error->clear();
    const std::string lock_path = list.config_path + ".lock";
    if (list.config_path.empty() || !path_fits(lock_path)) {
        *error = "The configuration's path is empty or too long: " + list.config_path;
        return false;
    }
    FileLockPtr lock = take_lock(lock_path);
    if (!lock) {
        *error = "Could not lock " + list.config_path + ": another program holds it, or its folder is read-only.";
        return false;
    }
    WorkflowList saved = list_like(list);
    if (config_load(saved, error) != ConfigLoad::loaded || !change(saved)) return false;
    if (!config_save(saved)) {
        *error = "Could not save " + list.config_path + ".";
        return false;
    }
    lock.reset();  // adopting may stop a run; other programs need not wait for that
    config_adopt(list, saved);
    return true;
}

bool config_reload(WorkflowList& list, std::string* error) {
    WorkflowList saved = list_like(list);
    if (config_load(saved, error) != ConfigLoad::loaded) return false;
    config_adopt(list, saved);
    return true;
}

void config_adopt(WorkflowList& list, WorkflowList& saved) {
    std::vector<WorkflowPtr> merged;
    for (WorkflowPtr& fresh : saved.workflows) {
        auto held = std::find_if(list.workflows.begin(), list.workflows.end(),
                                 [&](const WorkflowPtr& w) { return w && w->id == fresh->id; });
        if (held == list.workflows.end()) {
            merged.push_back(std::move(fresh));
            continue;
        }
        WorkflowSettings s = workflow_settings_copy(*fresh);
        if (record_lines(0, workflow_settings_copy(**held)) != record_lines(0, s)) {
            workflow_settings_replace(**held, s);
            (*held)->revision.fetch_add(1);
        }
        merged.push_back(std::move(*held));
    }
    list.workflows.swap(merged);  // what stays behind in `merged` is gone from the file
    merged.clear();
    saved.workflows.clear();
    list.next_id = std::max(list.next_id, saved.next_id);
}
