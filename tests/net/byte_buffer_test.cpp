// ByteBuffer: the NUL after the data, exact growth, moves, and refusal
// without change when the size would overflow.
#include "net/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::span<const uint8_t> bytes_of(const char* text) {
    return {reinterpret_cast<const uint8_t*>(text), std::strlen(text)};
}

}  // namespace

TEST(ByteBuffer, AppendKeepsTerminatorAfterData) {
    ByteBuffer buffer;
    ASSERT_TRUE(byte_buffer_append(&buffer, bytes_of("abc")));
    ASSERT_TRUE(byte_buffer_append(&buffer, bytes_of("de")));
    EXPECT_EQ(buffer.size, 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data), "abcde");
    EXPECT_EQ(byte_buffer_text(buffer), "abcde");
    byte_buffer_free(&buffer);
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(buffer.size, 0u);
}

TEST(ByteBuffer, FreeAndMoveAcceptEmptyAndMissingBuffers) {
    byte_buffer_free(nullptr);
    ByteBuffer empty;
    byte_buffer_free(&empty);
    ByteBuffer from, to;
    ASSERT_TRUE(byte_buffer_append(&to, bytes_of("old")));
    ASSERT_TRUE(byte_buffer_append(&from, bytes_of("segment")));
    uint8_t* block = from.data;
    byte_buffer_move(&to, &from);
    EXPECT_EQ(to.data, block);  // handed over, not copied
    EXPECT_EQ(byte_buffer_text(to), "segment");
    EXPECT_EQ(from.data, nullptr);
    EXPECT_EQ(from.size, 0u);
    byte_buffer_free(&to);
}

TEST(ByteBuffer, OverflowingSizeFailsWithoutChange) {
    ByteBuffer huge{nullptr, SIZE_MAX - 1};
    EXPECT_FALSE(byte_buffer_append(&huge, bytes_of("x")));
    EXPECT_EQ(huge.size, SIZE_MAX - 1);
    EXPECT_EQ(huge.data, nullptr);
    EXPECT_EQ(byte_buffer_extend(&huge, 1), nullptr);
}
