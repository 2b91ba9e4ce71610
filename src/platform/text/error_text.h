// Caller-owned error buffers.
//
// Every operation that can fail for a reason a person should read takes a
// std::span<char> and writes one NUL-terminated message into it, cut to fit.
// An empty span means "no buffer": nothing is written. The first layer that
// writes a text wins; outer layers add their own only while the buffer is
// still empty (error_is_empty).
#pragma once

#include <cstdarg>
#include <span>
#include <string_view>

#include "platform/text/format_check.h"

// Formats into `out`, truncating to out.size() - 1 bytes without splitting a
// UTF-8 character. Writes nothing into an empty span.
void error_printf(std::span<char> out, const char* format, ...) PRINTF_LIKE(2, 3);
void error_vprintf(std::span<char> out, const char* format, va_list args);

// True when there is no buffer or its first byte is NUL.
[[nodiscard]] bool error_is_empty(std::span<const char> out);

// Writes `text` only when the buffer is still empty (the "first writer wins" rule).
void error_set_if_empty(std::span<char> out, std::string_view text);

// Sets the buffer to the empty text (when there is one).
void error_clear(std::span<char> out);

// The buffer's text up to its terminator.
[[nodiscard]] std::string_view error_view(std::span<const char> out);
