// The plain RTMP version 3 handshake (no digest):
//
//   client                          server
//   C0 (0x03) + C1 (1536)  ---->
//                          <----   S0 (must be 0x03) + S1 (1536) + S2 (1536)
//   C2 = S1 echoed         ---->
//
// C1 is time (4 bytes, big-endian seconds), four zero bytes and filler the
// server does not examine.
#pragma once

#include "rtmp/rtmp_publisher.h"

constexpr size_t RTMP_HANDSHAKE_SIZE = 1536;
constexpr uint8_t RTMP_VERSION = 3;

// True when the exchange completed; otherwise the publisher's error text is
// "RTMP handshake failed".
[[nodiscard]] bool rtmp_handshake(RtmpPublisher* publisher);
