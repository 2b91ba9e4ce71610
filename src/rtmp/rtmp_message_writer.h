// Outbound messages. Every message gets a full format-0 header; the payload
// is cut into pieces of the outbound chunk size, each further piece behind a
// one-byte format-3 header (0xC0 | chunk stream id):
//
//   0  fmt 0 | csid        1  timestamp (3, or FF FF FF)   4  length (3)
//   7  type id             8  message stream id (4, little-endian)
//   12 extended timestamp (4, big-endian; only when timestamp >= 0xFFFFFF)
//   then payload piece, [C0|csid, extended timestamp?, piece]...
//
// Payload bytes go out straight from the caller's buffer, gathered into one
// send per message on a plain socket; only TLS stages them into whole
// records (it copies into its own record buffer anyway).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "rtmp/rtmp_publisher.h"

constexpr uint32_t RTMP_MESSAGE_LENGTH_MAX = 0xFFFFFF;
constexpr uint32_t RTMP_EXTENDED_TIMESTAMP = 0xFFFFFF;
constexpr uint8_t RTMP_CHUNK_STREAM_CONTROL = 2;
constexpr uint8_t RTMP_CHUNK_STREAM_COMMAND = 3;
constexpr uint8_t RTMP_CHUNK_STREAM_AUDIO = 4;
constexpr uint8_t RTMP_CHUNK_STREAM_VIDEO = 6;
constexpr uint8_t RTMP_CHUNK_STREAM_PUBLISH = 8;

// Fills the format-0 header; returns its size (12, or 16 with an extended
// timestamp), or 0 for a chunk stream id of 64 or more or an over-long message.
[[nodiscard]] size_t rtmp_build_message_header(std::array<uint8_t, 16>& out, uint8_t chunk_stream_id, uint8_t type_id,
                                               uint32_t message_stream_id, uint32_t timestamp_ms,
                                               size_t payload_length);

// Writes one whole message. False (nothing written) for a chunk stream id of
// 64 or more or a payload over 0xFFFFFF bytes; false after a failed write,
// which leaves the connection unusable. Sets no error text.
[[nodiscard]] bool rtmp_send_message(RtmpPublisher* publisher, uint8_t chunk_stream_id, uint8_t type_id,
                                     uint32_t message_stream_id, uint32_t timestamp_ms,
                                     std::span<const uint8_t> payload);

// Writes media messages in order on the publisher's stream (video on chunk
// stream 6, anything else on 4), gathered into as few writes as possible.
// False after a failed write, which leaves the connection unusable. Sets no
// error text.
[[nodiscard]] bool rtmp_write_media(RtmpPublisher* publisher, std::span<const RtmpMediaMessage> messages);
