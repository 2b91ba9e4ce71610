// NAL unit discovery in an H.264 Annex B byte stream.
//
// A NAL unit runs from after a start code (00 00 01, or 00 00 00 01) to the
// next start code or the end of the data. Trailing zero bytes are cut from
// it, which also takes the leading zero of a following 4-byte start code;
// a unit left empty (all zeros) is skipped. Bytes before the first start
// code belong to no unit. Data shorter than 4 bytes holds no unit.
//
// The scanner is a position over caller-owned bytes; the units it returns
// point into them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct AnnexbScanner {
    std::span<const uint8_t> data;
    size_t next_start = 0;  // where to look for the next start code
};

[[nodiscard]] AnnexbScanner annexb_scanner(std::span<const uint8_t> data);

// The next non-empty NAL unit, NAL header byte first. False when no unit is
// left.
[[nodiscard]] bool annexb_next_nal(AnnexbScanner& scanner, std::span<const uint8_t>& nal);

// nal_unit_type of a non-empty NAL unit.
[[nodiscard]] inline uint8_t h264_nal_type(std::span<const uint8_t> nal) {
    return nal[0] & 0x1F;
}

constexpr uint8_t H264_NAL_IDR = 5;
constexpr uint8_t H264_NAL_SPS = 7;
constexpr uint8_t H264_NAL_PPS = 8;
constexpr uint8_t H264_NAL_AUD = 9;
