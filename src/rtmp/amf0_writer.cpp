// Growable AMF0 byte buffer. Growth uses realloc so a failure is a plain
// false result rather than an exception.
#include "rtmp/amf0_writer.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"

namespace {

constexpr size_t FIRST_CAPACITY = 256;
constexpr size_t STRING_MAX = 0xFFFF;

bool reserve(Amf0Writer* w, size_t extra) {
    if (extra > SIZE_MAX / 2 - w->length) return false;
    size_t needed = w->length + extra;
    if (needed <= w->capacity) return true;
    size_t capacity = w->capacity == 0 ? FIRST_CAPACITY : w->capacity;
    while (capacity < needed) capacity *= 2;
    void* grown = std::realloc(w->data, capacity);
    if (!grown) return false;
    w->data = static_cast<uint8_t*>(grown);
    w->capacity = capacity;
    return true;
}

bool write_u16(Amf0Writer* w, size_t value) {
    uint8_t bytes[2];
    store_be(bytes, value);
    return amf0_write_raw(w, bytes);
}

bool write_text(Amf0Writer* w, std::string_view text) {
    if (text.size() > STRING_MAX || !reserve(w, 2 + text.size())) return false;
    return write_u16(w, text.size()) &&
           amf0_write_raw(w, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

}  // namespace

Amf0Writer::~Amf0Writer() { std::free(data); }

bool amf0_write_raw(Amf0Writer* w, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return true;
    if (!reserve(w, bytes.size())) return false;
    std::memcpy(w->data + w->length, bytes.data(), bytes.size());
    w->length += bytes.size();
    return true;
}

bool amf0_write_number(Amf0Writer* w, double value) {
    uint8_t bytes[9] = {0x00};
    store_be(std::span(bytes).subspan<1>(), std::bit_cast<uint64_t>(value));
    return amf0_write_raw(w, bytes);
}

bool amf0_write_boolean(Amf0Writer* w, bool value) {
    const uint8_t bytes[2] = {0x01, static_cast<uint8_t>(value ? 1 : 0)};
    return amf0_write_raw(w, bytes);
}

bool amf0_write_string(Amf0Writer* w, std::string_view text) {
    if (text.size() > STRING_MAX || !reserve(w, 3 + text.size())) return false;
    const uint8_t marker = 0x02;
    return amf0_write_raw(w, {&marker, 1}) && write_text(w, text);
}

bool amf0_write_null(Amf0Writer* w) {
    const uint8_t marker = 0x05;
    return amf0_write_raw(w, {&marker, 1});
}

bool amf0_write_object_start(Amf0Writer* w) {
    const uint8_t marker = 0x03;
    return amf0_write_raw(w, {&marker, 1});
}

bool amf0_write_key(Amf0Writer* w, std::string_view key) { return write_text(w, key); }

bool amf0_write_object_end(Amf0Writer* w) {
    const uint8_t end[3] = {0x00, 0x00, 0x09};
    return amf0_write_raw(w, end);
}
