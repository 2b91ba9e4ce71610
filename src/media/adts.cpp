// ADTS header fields, read only after the length checks.
#include "media/adts.h"

#include <iterator>

bool adts_has_sync(std::span<const uint8_t> data) {
    return data.size() >= ADTS_HEADER_SIZE && data[0] == 0xFF && (data[1] & 0xF6) == 0xF0;
}

bool adts_parse_header(std::span<const uint8_t> data, AdtsHeader& header) {
    if (data.size() < ADTS_HEADER_SIZE) return false;
    const bool protection_absent = (data[1] & 0x01) != 0;
    const size_t header_size = protection_absent ? ADTS_HEADER_SIZE : ADTS_HEADER_SIZE_WITH_CRC;
    const size_t frame_length =
        (static_cast<size_t>(data[3] & 0x03) << 11) | (static_cast<size_t>(data[4]) << 3) | (data[5] >> 5);
    if (frame_length < header_size || frame_length > data.size()) return false;
    header.profile = data[2] >> 6;
    header.frequency_index = (data[2] >> 2) & 0x0F;
    header.channel_configuration = ((data[2] & 0x01u) << 2) | (data[3] >> 6);
    header.header_size = header_size;
    header.frame_length = frame_length;
    return true;
}

uint32_t adts_sample_rate(uint32_t frequency_index) {
    static constexpr uint32_t rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
    return frequency_index < std::size(rates) ? rates[frequency_index] : 0;
}
