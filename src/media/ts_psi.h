// Program-specific information of an MPEG-TS: the two tables the demultiplexer
// needs to find its streams.
//
// A section is read only when it lies whole in one packet's payload (the
// payload of a packet with payload_unit_start set, pointer_field first):
// nothing is reassembled across packets and the CRC is not checked. Live
// sources repeat both tables every few hundred milliseconds in single packets,
// so a table we cannot read now comes round again. Every index is checked
// against the payload before it is read; a malformed table is simply not used.
#pragma once

#include <cstdint>
#include <span>

// PID value meaning "not known yet".
constexpr uint32_t TS_PID_NONE = 0xFFFFFFFFu;

constexpr uint8_t TS_STREAM_TYPE_AAC_ADTS = 0x0F;
constexpr uint8_t TS_STREAM_TYPE_AAC_LATM = 0x11;
constexpr uint8_t TS_STREAM_TYPE_H264 = 0x1B;

// Reads a PAT from `payload`. When the section is sound, returns true and
// sets `pmt_pid` to the PID of the first program whose number is not 0 (left
// unchanged when there is none). Returns false and changes nothing otherwise.
[[nodiscard]] bool ts_parse_pat(std::span<const uint8_t> payload, uint32_t& pmt_pid);

// Reads a PMT from `payload`. When the section is sound, returns true and sets
// `video_pid` to the last H.264 stream listed and `audio_pid` to the last AAC
// stream listed; a class the table does not list keeps its PID. Returns false
// and changes nothing otherwise.
[[nodiscard]] bool ts_parse_pmt(std::span<const uint8_t> payload, uint32_t& video_pid, uint32_t& audio_pid);
