// UTF-8 inside, UTF-16 at the Windows API: the two conversions every Win32
// call site uses. Invalid input is replaced, never dropped silently (the
// system's U+FFFD rule), so a strange name still reaches the call and fails
// there with a clear error.
#pragma once

#include <string>
#include <string_view>

[[nodiscard]] std::wstring utf8_to_wide(std::string_view text);
[[nodiscard]] std::string wide_to_utf8(std::wstring_view text);
