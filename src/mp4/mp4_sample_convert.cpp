// MP4-form H.264 and raw AAC into Annex B units and ADTS frames.
#include "mp4/mp4_sample_convert.h"

#include <array>

#include "media/adts.h"
#include "platform/text/byte_order.h"

namespace {

constexpr std::array<uint8_t, 4> START_CODE = {0, 0, 0, 1};
constexpr uint32_t ADTS_FREQUENCY_COUNT = 13;

// Walks `count` length-prefixed parameter sets from `at`, appending each
// behind a start code. Stops early (keeping what it has) when a length field
// does not fit; false when an entry's bytes run past the end.
bool take_parameter_sets(std::span<const uint8_t> avcc, size_t& at, uint32_t count, std::vector<uint8_t>& out) {
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 2 > avcc.size()) return true;
        const auto length = static_cast<size_t>(load_be(avcc.subspan(at, 2)));
        at += 2;
        if (length > avcc.size() - at) return false;
        out.insert(out.end(), START_CODE.begin(), START_CODE.end());
        out.insert(out.end(), avcc.begin() + static_cast<ptrdiff_t>(at),
                   avcc.begin() + static_cast<ptrdiff_t>(at + length));
        at += length;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> avcc_to_annexb_prefix(std::span<const uint8_t> avcc) {
    std::vector<uint8_t> prefix;
    if (avcc.size() < 7) return prefix;
    size_t at = 6;
    if (!take_parameter_sets(avcc, at, avcc[5] & 0x1Fu, prefix)) return {};
    if (at < avcc.size()) {
        uint32_t pps_count = avcc[at++];
        if (!take_parameter_sets(avcc, at, pps_count, prefix)) return {};
    }
    return prefix;
}

int adts_frequency_index(uint32_t sample_rate) {
    for (uint32_t i = 0; i < ADTS_FREQUENCY_COUNT; ++i) {
        if (sample_rate != 0 && adts_sample_rate(i) == sample_rate) return static_cast<int>(i);
    }
    return -1;
}

bool mp4_audio_to_adts(std::span<const uint8_t> sample, uint32_t sample_rate, uint32_t channels,
                       std::vector<uint8_t>& frame) {
    int index = adts_frequency_index(sample_rate);
    size_t length = sample.size() + 7;
    if (index < 0 || channels < 1 || channels > 7 || length > ADTS_MAX_FRAME_LENGTH) return false;
    const auto frequency = static_cast<uint32_t>(index);
    frame = {0xFF,
             0xF1,
             static_cast<uint8_t>(0x40 | (frequency << 2) | (channels >> 2)),
             static_cast<uint8_t>(((channels & 3) << 6) | (length >> 11)),
             static_cast<uint8_t>((length >> 3) & 0xFF),
             static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
             0xFC};
    frame.insert(frame.end(), sample.begin(), sample.end());
    return true;
}
