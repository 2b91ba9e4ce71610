// ByteBuffer on malloc/realloc, so a block can change hands between threads
// and layers without any allocator coupling.
#include "net/byte_buffer.h"

#include <cstdlib>
#include <cstring>

uint8_t* byte_buffer_extend(ByteBuffer* buffer, uint64_t count) {
    if (!buffer) return nullptr;
    if (count > SIZE_MAX - 1 || buffer->size > SIZE_MAX - 1 - count) return nullptr;
    size_t old_size = static_cast<size_t>(buffer->size);
    size_t new_size = static_cast<size_t>(buffer->size + count);
    auto* grown = static_cast<uint8_t*>(std::realloc(buffer->data, new_size + 1));
    if (!grown) return nullptr;
    grown[new_size] = 0;
    buffer->data = grown;
    buffer->size = new_size;
    return grown + old_size;
}

bool byte_buffer_append(ByteBuffer* buffer, std::span<const uint8_t> bytes) {
    uint8_t* space = byte_buffer_extend(buffer, bytes.size());
    if (!space) return false;
    if (!bytes.empty()) std::memcpy(space, bytes.data(), bytes.size());
    return true;
}

void byte_buffer_free(ByteBuffer* buffer) {
    if (!buffer) return;
    std::free(buffer->data);
    buffer->data = nullptr;
    buffer->size = 0;
}

void byte_buffer_move(ByteBuffer* to, ByteBuffer* from) {
    if (to == from) return;
    byte_buffer_free(to);
    *to = *from;
    from->data = nullptr;
    from->size = 0;
}

std::span<const uint8_t> byte_buffer_bytes(const ByteBuffer& buffer) {
    if (!buffer.data) return {};
    return {buffer.data, static_cast<size_t>(buffer.size)};
}

std::string_view byte_buffer_text(const ByteBuffer& buffer) {
    if (!buffer.data) return {};
    return {reinterpret_cast<const char*>(buffer.data), static_cast<size_t>(buffer.size)};
}
