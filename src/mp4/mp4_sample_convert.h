// MP4 samples into the forms the FLV packetizer takes (video samples
// themselves are rewritten by media/h264_form.h, in the form the track's
// configuration declares).
//
//   avcC record  -> "00 00 00 01 SPS ... 00 00 00 01 PPS ..." prefix
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

constexpr size_t ADTS_MAX_FRAME_LENGTH = 0x1FFF;

// The SPS and PPS of an avcC record in Annex B form. Empty when the record
// is shorter than 7 bytes, an entry runs past its end, or it holds no
// parameter set.
[[nodiscard]] std::vector<uint8_t> avcc_to_annexb_prefix(std::span<const uint8_t> avcc);

// ADTS sampling_frequency_index of a rate; -1 when the table has none.
[[nodiscard]] int adts_frequency_index(uint32_t sample_rate);

// One ADTS frame for a raw AAC frame into `frame`. False when the rate is
// not in the table, channels lie outside 1 to 7, or the frame would exceed
// ADTS_MAX_FRAME_LENGTH.
[[nodiscard]] bool mp4_audio_to_adts(std::span<const uint8_t> sample, uint32_t sample_rate, uint32_t channels,
                                     std::vector<uint8_t>& frame);
