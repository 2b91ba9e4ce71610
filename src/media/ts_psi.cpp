// PAT and PMT reading for the demultiplexer. Layout of the part we read,
// offsets from s = pointer_field + 1 (the section start):
//
//   s+0 table_id  s+1..2 section_length(12)  s+3..7 ids/version/numbers
//   PAT: s+8 ... 4-byte entries {program_number(16), PID(13)} ... CRC(4)
//   PMT: s+8..9 PCR PID  s+10..11 program_info_length(12)  descriptors
//        then 5-byte entries {stream_type, PID(13), ES_info_length(12)} +
//        descriptors ... CRC(4)
//
// `end` = s + 3 + section_length is checked against the payload before any
// entry is read, and every entry must end before the CRC, so no read can
// leave the payload.
#include "media/ts_psi.h"

#include <cstddef>

namespace {

constexpr uint8_t TABLE_ID_PAT = 0x00;
constexpr uint8_t TABLE_ID_PMT = 0x02;
constexpr size_t CRC_SIZE = 4;

uint32_t pid_at(std::span<const uint8_t> bytes, size_t at) {
    return (static_cast<uint32_t>(bytes[at] & 0x1F) << 8) | bytes[at + 1];
}

size_t length12_at(std::span<const uint8_t> bytes, size_t at) {
    return (static_cast<size_t>(bytes[at] & 0x0F) << 8) | bytes[at + 1];
}

}  // namespace

bool ts_parse_pat(std::span<const uint8_t> payload, uint32_t& pmt_pid) {
    if (payload.empty()) return false;
    const size_t s = static_cast<size_t>(payload[0]) + 1;
    if (s + 8 > payload.size() || payload[s] != TABLE_ID_PAT) return false;
    const size_t end = s + 3 + length12_at(payload, s + 1);
    // A section must hold its 5 header bytes, one program entry and the CRC.
    if (end > payload.size() || end < s + 12 || s + 12 > end - CRC_SIZE) return false;
    for (size_t p = s + 8; p + 4 <= end - CRC_SIZE; p += 4) {
        const uint32_t program_number = (static_cast<uint32_t>(payload[p]) << 8) | payload[p + 1];
        if (program_number == 0) continue;  // the network PID, not a program
        pmt_pid = pid_at(payload, p + 2);
        break;
    }
    return true;
}

bool ts_parse_pmt(std::span<const uint8_t> payload, uint32_t& video_pid, uint32_t& audio_pid) {
    if (payload.empty()) return false;
    const size_t s = static_cast<size_t>(payload[0]) + 1;
    if (s + 12 > payload.size() || payload[s] != TABLE_ID_PMT) return false;
    const size_t end = s + 3 + length12_at(payload, s + 1);
    if (end > payload.size() || end < s + 16) return false;
    uint32_t video = video_pid;
    uint32_t audio = audio_pid;
    size_t p = s + 12 + length12_at(payload, s + 10);
    while (p + 5 <= end - CRC_SIZE) {
        const uint8_t stream_type = payload[p];
        const uint32_t pid = pid_at(payload, p + 1);
        if (stream_type == TS_STREAM_TYPE_H264) {
            video = pid;
        } else if (stream_type == TS_STREAM_TYPE_AAC_ADTS || stream_type == TS_STREAM_TYPE_AAC_LATM) {
            audio = pid;
        }
        p += 5 + length12_at(payload, p + 3);
    }
    video_pid = video;
    audio_pid = audio;
    return true;
}
