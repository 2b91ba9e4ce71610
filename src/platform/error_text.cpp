// Truncating message formatting for caller-owned error buffers. A cut never
// leaves half a UTF-8 sequence behind, so the text stays valid for the log
// and the window.
#include "platform/error_text.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

void error_vprintf(std::span<char> out, const char* format, va_list args) {
    if (out.empty()) return;
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(out.data(), out.size(), format, copy);
    va_end(copy);
    if (needed < 0) {
        out[0] = '\0';
        return;
    }
    size_t written = std::strlen(out.data());
    out[utf8_cut_point(std::string_view(out.data(), written), written)] = '\0';
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
