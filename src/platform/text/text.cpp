// UTF-16 unit accounting over UTF-8. A character above U+FFFF takes two
// units (a surrogate pair), exactly as it would in the saved UTF-16 fields.
#include "platform/text/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

// Length in bytes of the UTF-8 sequence starting with `lead`, or 1 for a
// stray byte, which we treat as one unit of its own.
size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

bool sequence_complete(std::string_view text, size_t at, size_t length) {
    if (at + length > text.size()) return false;
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
    }
    return true;
}

// Bytes and UTF-16 units of the character at `at`.
void next_character(std::string_view text, size_t at, size_t* bytes, size_t* units) {
    size_t length = sequence_length(static_cast<unsigned char>(text[at]));
    if (!sequence_complete(text, at, length)) length = 1;
    *bytes = length;
    *units = length == 4 ? 2 : 1;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

size_t utf16_length(std::string_view text) {
    size_t units = 0;
    for (size_t at = 0; at < text.size();) {
        size_t bytes = 0, step = 0;
        next_character(text, at, &bytes, &step);
        at += bytes;
        units += step;
    }
    return units;
}

std::string utf16_fit(std::string_view text, size_t capacity) {
    if (capacity == 0) return {};
    size_t budget = capacity - 1, units = 0, at = 0;
    while (at < text.size()) {
        size_t bytes = 0, step = 0;
        next_character(text, at, &bytes, &step);
        if (units + step > budget) break;
        units += step;
        at += bytes;
    }
    return std::string(text.substr(0, at));
}

size_t utf8_cut_point(std::string_view text, size_t max_bytes) {
    if (max_bytes >= text.size()) return text.size();
    size_t at = 0;
    while (at < max_bytes) {
        size_t bytes = 0, units = 0;
        next_character(text, at, &bytes, &units);
        if (at + bytes > max_bytes) break;
        at += bytes;
    }
    return at;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool istarts_with(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

bool iends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && iequals(text.substr(text.size() - suffix.size()), suffix);
}

namespace {

// Index of the last byte of the escape sequence whose ESC is at `at`: a CSI
// (ESC [ parameters final), an OSC (ESC ] ... BEL or ESC \), or ESC and one byte.
size_t escape_end(std::string_view text, size_t at) {
    if (at + 1 >= text.size()) return at;
    size_t i = at + 2;
    if (text[at + 1] == '[') {
        while (i < text.size() && text[i] >= 0x20 && text[i] <= 0x3F) ++i;
        return i < text.size() && text[i] >= 0x40 && text[i] <= 0x7E ? i : i - 1;
    }
    if (text[at + 1] == ']') {
        while (i < text.size() && text[i] != '\a' && text[i] != '\x1B') ++i;
        if (i + 1 < text.size() && text[i] == '\x1B') ++i;
        return std::min(i, text.size() - 1);
    }
    return at + 1;
}

}  // namespace

std::string printable_line(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t' || c == '\r' || c == '\n') {
            out += ' ';
        } else if (c == 0x1B) {
            i = escape_end(text, i);
        } else if (c == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
            ++i;  // U+0080 to U+009F
        } else if (c >= 0x20 && c != 0x7F) {
            out += text[i];
        }
    }
    return out;
}

std::string string_vprintf(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<size_t>(needed));
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    }
    return out;
}

std::string string_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = string_vprintf(format, args);
    va_end(args);
    return out;
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

size_t read_decimal(std::string_view text, uint64_t cap, uint64_t* value) {
    *value = 0;
    size_t digits = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        const auto digit = static_cast<uint64_t>(text[digits] - '0');
        *value = *value > (cap - digit) / 10 ? cap : *value * 10 + digit;
    }
    return digits;
}

bool utf8_is_valid(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const size_t length = sequence_length(lead);
        if ((lead >= 0x80 && length == 1) || !sequence_complete(text, at, length)) return false;
        at += length;
    }
    return true;
}

std::string local_time_text(const LocalTime& time) {
    return string_printf("%04u-%02u-%02u %02u:%02u:%02u", time.year, time.month, time.day, time.hour, time.minute,
                         time.second);
}

std::string clock_duration_text(uint64_t seconds) {
    return string_printf("%02llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                         static_cast<unsigned long long>((seconds / 60) % 60),
                         static_cast<unsigned long long>(seconds % 60));
}
