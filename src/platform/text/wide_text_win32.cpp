// Conversions through MultiByteToWideChar / WideCharToMultiByte (code page
// 65001), sized by a first counting call.
#include <windows.h>

#include "platform/text/wide_text.h"

std::wstring utf8_to_wide(std::string_view text) {
    if (text.empty()) return {};
    int size = static_cast<int>(text.size());
    int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), needed);
    return wide;
}

std::string wide_to_utf8(std::wstring_view text) {
    if (text.empty()) return {};
    int size = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string utf8(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}
