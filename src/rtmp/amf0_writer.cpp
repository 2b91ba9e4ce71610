// AMF0 values appended to a byte vector; a failed growth is a plain false
// result rather than an exception on a runner thread.
#include "rtmp/amf0_writer.h"

#include <algorithm>
#include <bit>
#include <new>

#include "platform/text/byte_order.h"

namespace {

constexpr size_t STRING_MAX = 0xFFFF;
constexpr size_t FIRST_CAPACITY = 256;

// Room for `extra` more bytes, growing by doubling; false when it cannot.
bool reserve(Amf0Writer* w, size_t extra) {
    std::vector<uint8_t>& data = w->data;
    if (data.capacity() - data.size() >= extra) return true;
    if (extra > data.max_size() - data.size()) return false;
    try {
        data.reserve(std::max({data.size() + extra, 2 * data.capacity(), FIRST_CAPACITY}));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool write_u16(Amf0Writer* w, size_t value) {
    uint8_t bytes[2];
    store_be(bytes, value);
    return amf0_write_raw(w, bytes);
}

bool write_text(Amf0Writer* w, std::string_view text) {
    if (text.size() > STRING_MAX || !reserve(w, 2 + text.size())) return false;
    return write_u16(w, text.size()) && amf0_write_raw(w, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

}  // namespace

bool amf0_write_raw(Amf0Writer* w, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return true;
    if (!reserve(w, bytes.size())) return false;
    w->data.insert(w->data.end(), bytes.begin(), bytes.end());
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

bool amf0_write_key(Amf0Writer* w, std::string_view key) {
    return write_text(w, key);
}

bool amf0_write_object_end(Amf0Writer* w) {
    const uint8_t end[3] = {0x00, 0x00, 0x09};
    return amf0_write_raw(w, end);
}
