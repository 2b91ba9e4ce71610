// Fuzz target: any bytes as an avcC record, the rest as a video sample and
// as an AAC frame: no crash, a unit keeps its prefix, ADTS adds 7 bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "engines/mp4_sample_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    const size_t split = size > 0 ? data[0] % (size + 1) : 0;
    uint32_t nal_length_size = MP4_DEFAULT_NAL_LENGTH_SIZE;
    std::vector<uint8_t> prefix = avcc_to_annexb_prefix(bytes.first(split), nal_length_size);
    if (nal_length_size < 1 || nal_length_size > 4) std::abort();
    std::vector<uint8_t> unit;
    std::span<const uint8_t> sample = bytes.subspan(split);
    if (mp4_video_to_annexb(prefix, sample, nal_length_size, unit) && unit.size() < prefix.size()) std::abort();
    std::vector<uint8_t> frame;
    if (mp4_audio_to_adts(sample, 48000, 2, frame) && frame.size() != sample.size() + 7) std::abort();
    return 0;
}
