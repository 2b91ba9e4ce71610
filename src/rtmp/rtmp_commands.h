// The publish command exchange that follows the handshake:
//
//   -> Set Chunk Size 4096 (csid 2)          (not acknowledged)
//   -> connect(1, {app, type, tcUrl, ...})   <- _result / Connect.Success
//   -> releaseStream(2, null, key)
//   -> FCPublish(3, null, key)
//   -> createStream(4, null)                 <- _result(4, null, stream id)
//   -> publish(5, null, key, "live") on the new stream (csid 8)
//                                            <- onStatus NetStream.Publish.Start
//
// Replies are recognised by the texts they contain rather than by decoding
// AMF; while waiting, Set Chunk Size is applied and Ping Requests answered.
// The payload builders are pure so the wire bytes can be checked alone.
#pragma once

#include <cstdint>
#include <string_view>

#include "rtmp/amf0_writer.h"
#include "rtmp/rtmp_publisher.h"
#include "rtmp/rtmp_url.h"

constexpr uint8_t RTMP_TYPE_SET_CHUNK_SIZE = 1;
constexpr uint8_t RTMP_TYPE_USER_CONTROL = 4;
constexpr uint8_t RTMP_TYPE_AMF3_COMMAND = 17;
constexpr uint8_t RTMP_TYPE_AMF0_COMMAND = 20;
constexpr const char* RTMP_FLASH_VERSION = "FMLE/3.0 (compatible; Veltrona/1.0)";

// Command payloads; false when the buffer cannot grow.
[[nodiscard]] bool rtmp_build_connect(Amf0Writer* out, const RtmpUrl& url);
[[nodiscard]] bool rtmp_build_stream_command(Amf0Writer* out, std::string_view name, double transaction,
                                             std::string_view stream_key);
[[nodiscard]] bool rtmp_build_create_stream(Amf0Writer* out);
[[nodiscard]] bool rtmp_build_publish(Amf0Writer* out, std::string_view stream_key);

// Runs the whole exchange. On false the error text says why, or is empty
// (a failed send, or a createStream answer without a usable stream id).
[[nodiscard]] bool rtmp_start_publish(RtmpPublisher* publisher, const RtmpUrl& url);
