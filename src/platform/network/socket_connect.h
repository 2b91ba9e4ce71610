// The one TCP connect routine shared by the HTTP client and the RTMP
// publisher: resolve, try each address in order, and leave a blocking socket
// whose sends and receives time out after `timeout_ms`.
//
// The same time-out bounds the connect itself, so an unreachable host costs
// at most that long per address; a cancel event ends the wait (name lookup
// included) within 100 ms. Writes to a peer that has gone away fail
// with EPIPE instead of killing the process (SIGPIPE is ignored once, for
// the whole process, on the first connect: TLS writes go through write(2)
// where MSG_NOSIGNAL cannot be passed).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/time/event.h"

// A connected socket, or -1 when no address could be reached (or the name
// did not resolve, or `cancel` was set while connecting). The caller closes
// it with socket_close.
[[nodiscard]] int socket_connect(const std::string& host, uint16_t port, uint32_t timeout_ms, Event* cancel = nullptr);

// Sets how long each later send and receive on `fd` may wait (0: no limit),
// so a caller can spend what is left of a larger bound. False on failure.
[[nodiscard]] bool socket_set_timeouts(int fd, uint32_t timeout_ms);

// Keeps at most `bytes` written to `fd` but not yet sent, so a peer that
// stops reading blocks the writer within moments rather than after the
// megabytes the system would otherwise take in; what is in flight still
// grows with the path. False where the system has no such limit.
[[nodiscard]] bool socket_limit_unsent(int fd, uint32_t bytes);

// Shuts a socket down in both directions, so a call blocked on it returns at
// once; shaped as an Event listener (`context` is an int* holding the socket).
void socket_shutdown_listener(void* context);

// Closes a socket; accepts -1 and then does nothing.
void socket_close(int fd);

// One send step without SIGPIPE: bytes sent, or -1.
[[nodiscard]] long socket_send(int fd, const void* data, size_t size);
// One gathered send of the pieces in order (as many as one system call
// takes): bytes sent, or -1.
[[nodiscard]] long socket_send_pieces(int fd, std::span<const std::span<const uint8_t>> pieces);
// One receive step: bytes read, 0 on an orderly close, -1 on error or time-out.
[[nodiscard]] long socket_recv(int fd, void* data, size_t size);

// The error number of the calling thread's last failed socket call, in the
// errno vocabulary (EPIPE, ECONNRESET, EAGAIN for a time-out, ...).
[[nodiscard]] int socket_last_error();

// True when `host` is an IPv4 or IPv6 address literal rather than a name.
[[nodiscard]] bool socket_is_ip_literal(const std::string& host);
