// MP4 samples into the forms the FLV packetizer takes.
//
//   avcC record  -> "00 00 00 01 SPS ... 00 00 00 01 PPS ..." prefix + NAL length size
//   video sample -> one Annex B access unit: [prefix] (00 00 00 01 NAL)*
//                   (a sample already in Annex B form passes through)
//   audio sample -> one ADTS frame: 7-byte AAC LC header, no CRC, + raw frame
//
//   avcC: version, profile, compat, level, 111111 lengthSizeMinusOne(2),
//         111 numSPS(5), {u16 length, SPS}*, numPPS, {u16 length, PPS}*
//
// Every length read from a file is checked against the bytes it claims
// before anything is copied; output goes into caller-owned vectors, which
// are reused from sample to sample.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

constexpr uint32_t MP4_DEFAULT_NAL_LENGTH_SIZE = 4;
constexpr size_t ADTS_MAX_FRAME_LENGTH = 0x1FFF;

// The SPS and PPS of an avcC record in Annex B form, and the record's NAL
// length size in `nal_length_size`. Empty (and `nal_length_size` untouched)
// when the record is shorter than 7 bytes, an entry runs past its end, or it
// holds no parameter set.
[[nodiscard]] std::vector<uint8_t> avcc_to_annexb_prefix(std::span<const uint8_t> avcc, uint32_t& nal_length_size);

// `head` followed by the sample's NAL units, each behind a 4-byte start code,
// into `unit`. False when the MP4-form walk finds a zero length, a NAL
// running past the sample, bytes left after the last NAL, or a length size
// outside 1 to 4.
[[nodiscard]] bool mp4_video_to_annexb(std::span<const uint8_t> head, std::span<const uint8_t> sample,
                                       uint32_t nal_length_size, std::vector<uint8_t>& unit);

// ADTS sampling_frequency_index of a rate; -1 when the table has none.
[[nodiscard]] int adts_frequency_index(uint32_t sample_rate);

// One ADTS frame for a raw AAC frame into `frame`. False when the rate is
// not in the table, channels lie outside 1 to 7, or the frame would exceed
// ADTS_MAX_FRAME_LENGTH.
[[nodiscard]] bool mp4_audio_to_adts(std::span<const uint8_t> sample, uint32_t sample_rate, uint32_t channels,
                                     std::vector<uint8_t>& frame);
