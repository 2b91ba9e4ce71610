// Loopback sockets for the scripted servers and the tests that need a bare
// listener: a listening socket on 127.0.0.1 at a port the system chose,
// bounded waits for input, and whole sends.
#pragma once

#include <cstdint>
#include <string_view>

// A listening TCP socket on 127.0.0.1 (its port in `port`), its accepted
// sockets with a receive buffer of `receive_buffer` bytes when not 0 (so a
// server that stops reading stalls its client soon); -1 when none could be made.
int loopback_listen(uint16_t* port, int backlog = 16, int receive_buffer = 0);
// True when `fd` has input (or end of stream) before tick_ms() reaches
// `deadline_ms`.
bool wait_readable(int fd, uint64_t deadline_ms);
// Sends every byte without SIGPIPE; false when the peer is gone.
bool send_all(int fd, std::string_view bytes);
