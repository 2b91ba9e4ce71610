// Text helpers for UTF-8 strings that stand in for fixed-capacity UTF-16
// fields.
//
// Every stored text has a capacity counted in UTF-16 units, terminator
// included, as the saved format and the window controls expect. We keep
// UTF-8 in memory and enforce those capacities here, always cutting between
// characters. Invalid UTF-8 bytes count as one unit each.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text/format_check.h"
#include "platform/time/clock.h"

// Number of UTF-16 units `text` would take.
[[nodiscard]] size_t utf16_length(std::string_view text);

// The longest prefix of `text` that fits `capacity` UTF-16 units including a
// terminator (so at most capacity - 1 units); empty when capacity is 0.
[[nodiscard]] std::string utf16_fit(std::string_view text, size_t capacity);

// True when every byte of `text` belongs to a complete UTF-8 sequence.
[[nodiscard]] bool utf8_is_valid(std::string_view text);

// Largest byte offset <= max_bytes that does not split a UTF-8 sequence.
[[nodiscard]] size_t utf8_cut_point(std::string_view text, size_t max_bytes);

// A blank inside a line (space or tab), as header and attribute syntax use it.
[[nodiscard]] constexpr bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// ASCII case-insensitive comparisons (schemes, host names, extensions).
[[nodiscard]] bool iequals(std::string_view a, std::string_view b);
[[nodiscard]] bool istarts_with(std::string_view text, std::string_view prefix);
[[nodiscard]] bool iends_with(std::string_view text, std::string_view suffix);

// The value of one hexadecimal digit (either case), or -1.
[[nodiscard]] int hex_digit_value(char c);
// Reads the decimal digits at the start of `text` into `value`, saturating
// at `cap`; returns how many digits there were (0: none, and `value` is 0).
size_t read_decimal(std::string_view text, uint64_t cap, uint64_t* value);

// `text` as one printable line, for another program's output that is shown
// or logged: terminal escape sequences and other control characters (C0,
// DEL, C1) dropped, tabs and line ends turned into a blank.
[[nodiscard]] std::string printable_line(std::string_view text);

// "2026-12-08 10:00:00", as log lines, status lines and the status page stamp time.
[[nodiscard]] std::string local_time_text(const LocalTime& time);
// "01:02:05": whole seconds as hours, minutes and seconds, as a running time shows.
[[nodiscard]] std::string clock_duration_text(uint64_t seconds);

// printf into a std::string.
[[nodiscard]] std::string string_printf(const char* format, ...) PRINTF_LIKE(1, 2);
[[nodiscard]] std::string string_vprintf(const char* format, va_list args);
