// Fuzz target: any bytes as an avcC record, the rest as a video sample and
// as an AAC frame: no crash, a unit keeps its prefix (whole when refused),
// ADTS adds 7 bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "media/h264_form.h"
#include "mp4/mp4_sample_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    const size_t split = size > 0 ? data[0] % (size + 1) : 0;
    const H264Form form = h264_form_of(bytes.first(split));
    if (form.nal_length_size < 1 || form.nal_length_size > 4) std::abort();
    const std::vector<uint8_t> prefix = avcc_to_annexb_prefix(bytes.first(split));
    std::vector<uint8_t> unit = prefix;
    std::span<const uint8_t> sample = bytes.subspan(split);
    if (!h264_append_annexb(form, sample, unit) && unit != prefix) std::abort();
    if (!std::equal(prefix.begin(), prefix.end(), unit.begin())) std::abort();
    std::vector<uint8_t> frame;
    if (mp4_audio_to_adts(sample, 48000, 2, frame) && frame.size() != sample.size() + 7) std::abort();
    return 0;
}
