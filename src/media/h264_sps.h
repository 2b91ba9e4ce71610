// What an H.264 sequence parameter set says about the picture as sent:
// profile, level, the displayed size (coded macroblocks minus the cropping
// window) and the frame rate its VUI timing declares.
//
//   NAL header | profile_idc constraint_flags level_idc | ue(sps_id) ...
//   (the RBSP after the header has 00 00 03 emulation bytes taken out)
//
// The parameter set comes from the network, so every read is checked
// against the end and every exp-Golomb value against its legal range; a set
// that runs out, overflows or names an impossible size is refused as a
// whole, never half filled. Pure function, no state, any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct H264SpsInfo {
    uint32_t profile_idc = 0;
    uint32_t constraint_flags = 0;  // constraint_set0..5 flags, set0 in bit 7
    uint32_t level_idc = 0;         // ten times the level: 31 for 3.1
    uint32_t width = 0;             // displayed pixels, after cropping
    uint32_t height = 0;
    // Frames per second as time_scale / (2 * num_units_in_tick), when the
    // VUI carries timing; both 0 otherwise.
    uint32_t frame_rate_num = 0;
    uint32_t frame_rate_den = 0;
};

// Parses one SPS NAL unit (header byte included, type 7). False, with
// `info` unchanged, when it is not an SPS or is malformed in any way.
[[nodiscard]] bool h264_parse_sps(std::span<const uint8_t> nal, H264SpsInfo* info);

// "Baseline", "Constrained Baseline", "Main", "High", "High 10", ... or
// "profile N" for one without a common name.
[[nodiscard]] std::string h264_profile_name(uint32_t profile_idc, uint32_t constraint_flags);
