// AMF0 encoding for the few command values a publisher sends:
//
//   number  00 + IEEE-754 double, big-endian
//   boolean 01 + 00/01
//   string  02 + 16-bit length + bytes (no NUL); over 65535 bytes fails
//   object  03, then (16-bit key length, key, value)*, closed by 00 00 09
//   null    05
//
// A write that cannot grow the buffer (memory is short, or a string is too
// long) fails and leaves the buffer as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

struct Amf0Writer {
    std::vector<uint8_t> data;

    std::span<const uint8_t> bytes() const { return data; }
};

[[nodiscard]] bool amf0_write_raw(Amf0Writer* writer, std::span<const uint8_t> bytes);
[[nodiscard]] bool amf0_write_number(Amf0Writer* writer, double value);
[[nodiscard]] bool amf0_write_boolean(Amf0Writer* writer, bool value);
[[nodiscard]] bool amf0_write_string(Amf0Writer* writer, std::string_view text);
[[nodiscard]] bool amf0_write_null(Amf0Writer* writer);
[[nodiscard]] bool amf0_write_object_start(Amf0Writer* writer);
// A property's key; its value follows with one of the writes above.
[[nodiscard]] bool amf0_write_key(Amf0Writer* writer, std::string_view key);
[[nodiscard]] bool amf0_write_object_end(Amf0Writer* writer);
