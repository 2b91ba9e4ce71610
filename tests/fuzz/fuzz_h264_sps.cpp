// Arbitrary bytes as one SPS NAL unit: refused, or read into a picture
// size that a 1024-macroblock limit and the cropping rules allow.
#include <cstdint>
#include <span>

#include "media/h264_sps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    H264SpsInfo info;
    if (!h264_parse_sps(std::span(data, size), &info)) return 0;
    if (info.width == 0 || info.height == 0 || info.width > 16384 || info.height > 32768) __builtin_trap();
    if ((info.frame_rate_num == 0) != (info.frame_rate_den == 0)) __builtin_trap();
    return 0;
}
