// The form of H.264 units from their configuration, and the rewrite of
// length-prefixed units into Annex B: passed, rewritten or refused whole.
#include "media/h264_form.h"

#include <gtest/gtest.h>

#include <optional>

#include "media/ts_craft.h"

namespace {

TEST(H264Form, AnAvccRecordFixesTheFormElseUnitsAreSniffed) {
    const Bytes avcc = {1, 0x42, 0, 0x1E, 0xFD, 0xE1, 0};  // lengthSizeMinusOne 1
    EXPECT_EQ(std::tuple(h264_form_of(avcc).sniff, h264_form_of(avcc).nal_length_size), std::tuple(false, 2u));
    for (const Bytes& other : {Bytes{}, Bytes(avcc.begin(), avcc.end() - 1), Bytes{0, 0, 0, 1, 0x67, 0x42, 0}})
        EXPECT_EQ(std::tuple(h264_form_of(other).sniff, h264_form_of(other).nal_length_size), std::tuple(true, 4u));
}

TEST(H264Form, UnitsBecomeAnnexBOrAreRefusedWhole) {
    const H264Form sniff, four{.sniff = false}, two{.sniff = false, .nal_length_size = 2};
    const std::tuple<H264Form, Bytes, std::optional<Bytes>> cases[] = {
        {sniff, {0, 0, 0, 1, 0x65, 0x88}, Bytes{0, 0, 0, 1, 0x65, 0x88}},
        {sniff, {0, 0, 1, 0x41, 0x9A}, Bytes{0, 0, 1, 0x41, 0x9A}},
        {sniff, {0, 0, 0, 2, 0x67, 0x42, 0, 0, 0, 1, 0x68}, Bytes{0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68}},
        // A 1-byte NAL's length reads as a start code (a 256- to 511-byte one's as 00 00 01).
        {four, {0, 0, 0, 1, 0x09, 0, 0, 0, 2, 0x41, 0x9A}, Bytes{0, 0, 0, 1, 0x09, 0, 0, 0, 1, 0x41, 0x9A}},
        {two, {0, 2, 0x65, 0x11, 0, 1, 0x06}, Bytes{0, 0, 0, 1, 0x65, 0x11, 0, 0, 0, 1, 0x06}},
        {sniff, {0, 0, 0, 2, 0x65, 0x11, 0, 0, 0, 5, 0x41}, std::nullopt},  // the last NAL runs past the end
        {four, {0, 0, 0, 0, 0x65}, std::nullopt},                           // zero length
        {two, {0, 1, 0x65, 0x77}, std::nullopt},                            // bytes after the last NAL
        {{.sniff = false, .nal_length_size = 5}, {1, 0x65}, std::nullopt},
    };
    for (const auto& [form, unit, want] : cases) {
        Bytes out = {0xAA}, expected = {0xAA};  // what was there before stays
        const bool done = h264_append_annexb(form, unit, out);
        if (want) append(expected, *want);
        EXPECT_EQ(std::tuple(done, out), std::tuple(want.has_value(), expected)) << testing::PrintToString(unit);
    }
}

}  // namespace
