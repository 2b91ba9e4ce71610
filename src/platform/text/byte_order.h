// Fixed-size integer fields in byte buffers, most significant byte first
// (network order, as RTMP, AMF0, FLV and MPEG-TS write them), plus the one
// little-endian field RTMP has. Reads and writes take the field as a span of
// exactly its size, so a caller's subspan (or a fixed-size array) bounds it;
// ByteReader walks a buffer from the peer and never reads past its end.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

// The value of `field` (1 to 8 bytes), big-endian.
[[nodiscard]] constexpr uint64_t load_be(std::span<const uint8_t> field) {
    uint64_t value = 0;
    for (uint8_t byte : field) value = (value << 8) | byte;
    return value;
}

// Writes the low field.size() bytes of `value` into `field`, big-endian.
constexpr void store_be(std::span<uint8_t> field, uint64_t value) {
    for (size_t i = field.size(); i-- > 0; value >>= 8) field[i] = static_cast<uint8_t>(value);
}

[[nodiscard]] constexpr uint32_t load_le32(std::span<const uint8_t, 4> field) {
    return uint32_t{field[0]} | (uint32_t{field[1]} << 8) | (uint32_t{field[2]} << 16) | (uint32_t{field[3]} << 24);
}

// Sequential reads from a buffer: a read past the end yields 0 and sets
// `failed`, which stays set.
struct ByteReader {
    std::span<const uint8_t> bytes;
    size_t at = 0;
    bool failed = false;

    [[nodiscard]] size_t left() const { return bytes.size() - at; }
    // The next `size` bytes (1 to 8), big-endian.
    [[nodiscard]] uint64_t be(size_t size) {
        if (failed || size > left()) {
            failed = true;
            return 0;
        }
        at += size;
        return load_be(bytes.subspan(at - size, size));
    }
    // An IEEE-754 double, big-endian (AMF0's number).
    [[nodiscard]] double be_double() { return std::bit_cast<double>(be(8)); }
};
