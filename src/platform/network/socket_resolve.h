// The addresses of a host for a stream connection, looked up so that a
// cancel event ends the wait within 100 ms. Shared by both builds'
// socket_connect; on Windows, Winsock must be started first.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

#include "platform/time/event.h"

// The addresses of `host` (free them with freeaddrinfo), or nullptr when it
// did not resolve or `cancel` was set first.
[[nodiscard]] addrinfo* socket_resolve(const std::string& host, uint16_t port, Event* cancel);
