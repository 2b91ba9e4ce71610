// Network-order fields: the reader stops at the end of what the peer sent.
#include "platform/text/byte_order.h"

#include <gtest/gtest.h>

#include <array>

TEST(ByteOrder, FieldsRoundTripAndReadsStopAtTheEnd) {
    std::array<uint8_t, 11> buffer{};
    store_be(std::span(buffer).first(3), 0x12345678);  // the low three bytes
    store_be(std::span(buffer).subspan(3, 8), std::bit_cast<uint64_t>(2.5));
    EXPECT_EQ(std::tuple(buffer[0], load_be(std::span(buffer).first(3))), std::tuple(0x34, 0x345678u));
    EXPECT_EQ(load_le32(std::span(buffer).first<4>()), 0x40785634u);

    ByteReader reader{buffer};
    EXPECT_EQ(reader.be(3), 0x345678u);
    EXPECT_EQ(reader.be_double(), 2.5);
    EXPECT_FALSE(reader.failed);
    EXPECT_EQ(reader.be(1), 0u);  // past the end
    EXPECT_EQ(std::tuple(reader.failed, reader.at), std::tuple(true, buffer.size()));
}
