// Layer-internal pieces of the publisher: creation of a bare record (also
// how tests and benchmarks wrap a socket of their own), the transport's
// opening, the two I/O primitives every byte goes through, and the
// connection's error text.
#pragma once

#include <cstdint>
#include <span>

#include "platform/text/format_check.h"
#include "rtmp/rtmp_publisher.h"

struct RtmpUrl;

// A publisher with no connection yet: socket -1, chunk sizes 128. Null when
// memory is short.
[[nodiscard]] RtmpPublisher* rtmp_publisher_create(uint32_t timeout_ms);

// TCP connect to the URL's host and port (bounded by the publisher's
// time-out), the stop watch on `stop`, and TLS for rtmps. False with the
// failing step's text in the publisher, or none when the connect failed.
[[nodiscard]] bool rtmp_connect(RtmpPublisher* publisher, const RtmpUrl& url, Event* stop);

// Writes every byte (through TLS when there is a session). An empty span
// succeeds at once. False on any failed step, including a peer that closed.
[[nodiscard]] bool rtmp_write_all(RtmpPublisher* publisher, std::span<const uint8_t> bytes);
// Writes the pieces in order as one byte stream, with as few system calls
// as the transport allows: one gathered send for a plain socket, whole TLS
// records for a TLS session. Same result and failure rules as rtmp_write_all.
[[nodiscard]] bool rtmp_write_pieces(RtmpPublisher* publisher, std::span<const std::span<const uint8_t>> pieces);
// Reads exactly bytes.size() bytes. False on a time-out, an error or the
// peer's close (last_io_error says which: 0 for an orderly close).
[[nodiscard]] bool rtmp_read_exact(RtmpPublisher* publisher, std::span<uint8_t> bytes);

// Replaces the connection's error text (cut to 255 characters).
void rtmp_set_error(RtmpPublisher* publisher, const char* format, ...) PRINTF_LIKE(2, 3);
