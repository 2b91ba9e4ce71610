// ByteBuffer: a growable block of bytes with a single owner.
//
// Whenever data is present one NUL byte follows the last data byte (not
// counted in size), so a text body can be handed to string code as is.
// Segments travel downloader -> ring -> engine by moving the buffer (copying
// the two fields and clearing the source), never by copying the bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct ByteBuffer {
    uint8_t* data = nullptr;  // owned; nullptr when empty
    uint64_t size = 0;        // bytes of data, the NUL not included
};

// Appends `bytes`, growing the block to exactly size + count + 1. False, with
// the buffer unchanged, when that size would overflow or the allocation fails.
[[nodiscard]] bool byte_buffer_append(ByteBuffer* buffer, std::span<const uint8_t> bytes);

// Grows the buffer by `count` bytes, left for the caller to fill, and returns
// where they start; nullptr with the buffer unchanged when it cannot grow.
// Lets a reader that knows the total in advance make one allocation.
[[nodiscard]] uint8_t* byte_buffer_extend(ByteBuffer* buffer, uint64_t count);

// Frees the data and resets the buffer to {nullptr, 0}; accepts nullptr.
void byte_buffer_free(ByteBuffer* buffer);

// Hands the block over: `to` (freed first) takes `from`'s data, `from` becomes empty.
void byte_buffer_move(ByteBuffer* to, ByteBuffer* from);

// The data as a byte view / as text (empty view for an empty buffer).
[[nodiscard]] std::span<const uint8_t> byte_buffer_bytes(const ByteBuffer& buffer);
[[nodiscard]] std::string_view byte_buffer_text(const ByteBuffer& buffer);

// A ByteBuffer freed when it goes out of scope (a segment an engine holds).
struct OwnedByteBuffer {
    ByteBuffer buffer;
    OwnedByteBuffer() = default;
    ~OwnedByteBuffer() { byte_buffer_free(&buffer); }
    OwnedByteBuffer(const OwnedByteBuffer&) = delete;
    OwnedByteBuffer& operator=(const OwnedByteBuffer&) = delete;
};
