// Truncating message formatting for caller-owned error buffers. A cut never
// leaves half a UTF-8 sequence behind, so the text stays valid for the log
// and the window.
#include "platform/text/error_text.h"

#include <cstring>

#include "platform/text/text.h"

void error_vprintf(std::span<char> out, const char* format, va_list args) {
    if (out.empty()) return;
    // The cut point is chosen on the whole text: once vsnprintf has cut it,
    // a character split at the end can no longer be told from a stray byte.
    const std::string text = string_vprintf(format, args);
    const size_t kept = utf8_cut_point(text, out.size() - 1);
    std::memcpy(out.data(), text.data(), kept);
    out[kept] = '\0';
}

void error_printf(std::span<char> out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    error_vprintf(out, format, args);
    va_end(args);
}

bool error_is_empty(std::span<const char> out) {
    return out.empty() || out[0] == '\0';
}

void error_set_if_empty(std::span<char> out, std::string_view text) {
    if (!error_is_empty(out)) return;
    error_printf(out, "%.*s", static_cast<int>(text.size()), text.data());
}

void error_clear(std::span<char> out) {
    if (!out.empty()) out[0] = '\0';
}

std::string_view error_view(std::span<const char> out) {
    if (out.empty()) return {};
    return std::string_view(out.data(), strnlen(out.data(), out.size()));
}
