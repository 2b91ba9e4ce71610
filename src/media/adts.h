// ADTS headers: the 7-byte (9 with CRC) framing in front of every AAC frame
// in an MPEG-TS audio stream.
//
//   byte 0..1  sync 0xFFF, ID, layer(2) = 0, protection_absent
//   byte 2     profile(2) sampling_frequency_index(4) private channel_configuration(1 of 3)
//   byte 3..5  channel_configuration(2 of 3) ... frame_length(13) ...
//   byte 6     buffer fullness / number_of_raw_data_blocks
//
// frame_length counts the header; a parsed header is only returned when the
// whole frame lies in the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

constexpr size_t ADTS_HEADER_SIZE = 7;
constexpr size_t ADTS_HEADER_SIZE_WITH_CRC = 9;
constexpr uint32_t AAC_SAMPLES_PER_FRAME = 1024;

struct AdtsHeader {
    uint32_t profile = 0;          // audioObjectType - 1
    uint32_t frequency_index = 0;  // sampling_frequency_index
    uint32_t channel_configuration = 0;
    size_t header_size = 0;   // 7, or 9 when a CRC follows
    size_t frame_length = 0;  // header included
};

// True when `data` holds at least a header's 7 bytes and opens with the ADTS
// sync word and layer 0 (the MPEG version bit is not looked at).
[[nodiscard]] bool adts_has_sync(std::span<const uint8_t> data);

// Reads the header at the start of `data` (which must pass adts_has_sync).
// False when frame_length is shorter than the header or longer than `data`.
[[nodiscard]] bool adts_parse_header(std::span<const uint8_t> data, AdtsHeader& header);

// Sampling rate in Hz of a sampling_frequency_index; 0 for the reserved ones.
[[nodiscard]] uint32_t adts_sample_rate(uint32_t frequency_index);
