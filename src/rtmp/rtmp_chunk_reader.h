// Inbound half of the chunk stream: reads chunks (basic header, message
// header of format 0-3, optional extended timestamp, a payload piece of at
// most the inbound chunk size) until some chunk stream completes a message.
// Chunks of different chunk streams may interleave freely.
//
// Only chunk stream ids 0-63 are kept; a 2- or 3-byte basic header naming 64
// or more fails the read. Used only during the command exchange.
#pragma once

#include <cstdint>
#include <span>

#include "rtmp/rtmp_publisher.h"

struct RtmpMessage {
    uint8_t type_id = 0;
    uint32_t message_stream_id = 0;
    uint32_t timestamp = 0;
    // Owned by the chunk stream's state: valid until the next message starts
    // on that chunk stream or the publisher is closed.
    std::span<const uint8_t> payload;
};

// True with the next complete inbound message. False on a failed read, an
// unsupported chunk stream id or memory shortage; last_io_error then holds
// the system error of a failed read, else 0.
[[nodiscard]] bool rtmp_read_message(RtmpPublisher* publisher, RtmpMessage* out);
