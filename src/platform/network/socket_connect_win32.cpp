// Winsock 2.2 connect with a bounded wait: started once per process, the
// socket is switched to non-blocking for the connect, polled with select()
// in slices so a cancel is seen, checked with SO_ERROR, then switched back
// with SO_RCVTIMEO/SO_SNDTIMEO set to the caller's time-out. Sockets travel
// as int like everywhere else in the program (Windows hands out small handle
// values), and errors are reported in errno's vocabulary.
//
// A stop shuts the socket down and also cancels its pending I/O: a blocked
// recv on Windows does not always return on shutdown alone.
// The system headers must come in this order.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>

#include "platform/network/socket_connect.h"
#include "platform/network/socket_resolve.h"

namespace {

constexpr uint32_t CANCEL_SLICE_MS = 100;
constexpr size_t GATHER_MAX = 64;

// Winsock stays started for the life of the process: a session may still be
// running on a thread the process no longer waits for at exit.
bool start_winsock_once() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data{};
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

SOCKET as_socket(int fd) {
    return static_cast<SOCKET>(static_cast<unsigned>(fd));
}

bool set_timeouts(SOCKET s, uint32_t timeout_ms) {
    DWORD value = timeout_ms;
    const char* bytes = reinterpret_cast<const char*>(&value);
    return setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, bytes, sizeof value) == 0 &&
           setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, bytes, sizeof value) == 0;
}

bool set_blocking(SOCKET s, bool blocking) {
    u_long non_blocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &non_blocking) == 0;
}

// Waits for the connect to finish in slices, so a cancel is seen within one.
bool wait_connected(SOCKET s, uint32_t timeout_ms, Event* cancel) {
    uint64_t waited = 0;
    for (;;) {
        if (event_is_set(cancel)) return false;
        uint64_t slice = CANCEL_SLICE_MS;
        if (timeout_ms != 0) slice = std::min<uint64_t>(slice, timeout_ms - waited);
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv{static_cast<long>(slice / 1000), static_cast<long>((slice % 1000) * 1000)};
        int rc = select(0, nullptr, &writable, &failed, &tv);
        if (rc > 0) return FD_ISSET(s, &writable) != 0;
        if (rc < 0) return false;
        waited += slice;
        if (timeout_ms != 0 && waited >= timeout_ms) return false;
    }
}

bool connect_bounded(SOCKET s, const addrinfo* address, uint32_t timeout_ms, Event* cancel) {
    if (!set_blocking(s, false)) return false;
    int rc = connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen));
    if (rc != 0 && WSAGetLastError() != WSAEWOULDBLOCK) return false;
    if (rc != 0) {
        if (!wait_connected(s, timeout_ms, cancel)) return false;
        int error = 0;
        int length = sizeof error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error != 0) {
            return false;
        }
    }
    return set_blocking(s, true);
}

}  // namespace

int socket_connect(const std::string& host, uint16_t port, uint32_t timeout_ms, Event* cancel) {
    if (!start_winsock_once()) return -1;
    addrinfo* results = socket_resolve(host, port, cancel);
    if (!results) return -1;
    int connected = -1;
    for (addrinfo* address = results; address && connected < 0; address = address->ai_next) {
        SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        // A tool we start must not inherit the connection.
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        if (set_timeouts(s, timeout_ms) && connect_bounded(s, address, timeout_ms, cancel)) {
            connected = static_cast<int>(s);
        } else {
            closesocket(s);
        }
    }
    freeaddrinfo(results);
    return connected;
}

bool socket_set_timeouts(int fd, uint32_t timeout_ms) {
    return set_timeouts(as_socket(fd), timeout_ms);
}

// Windows sizes its send backlog to the path by itself.
bool socket_limit_unsent(int, uint32_t) {
    return false;
}

void socket_shutdown_listener(void* context) {
    int fd = *static_cast<int*>(context);
    if (fd < 0) return;
    shutdown(as_socket(fd), SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(as_socket(fd)), nullptr);
}

void socket_close(int fd) {
    if (fd >= 0) closesocket(as_socket(fd));
}

long socket_send(int fd, const void* data, size_t size) {
    int step = static_cast<int>(std::min<size_t>(size, INT_MAX));
    int sent = send(as_socket(fd), static_cast<const char*>(data), step, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

long socket_recv(int fd, void* data, size_t size) {
    int step = static_cast<int>(std::min<size_t>(size, INT_MAX));
    int got = recv(as_socket(fd), static_cast<char*>(data), step, 0);
    return got == SOCKET_ERROR ? -1 : got;
}

long socket_send_pieces(int fd, std::span<const std::span<const uint8_t>> pieces) {
    WSABUF buffers[GATHER_MAX];
    DWORD count = 0;
    for (std::span<const uint8_t> piece : pieces) {
        if (count == GATHER_MAX) break;
        if (piece.empty()) continue;
        buffers[count].buf = reinterpret_cast<char*>(const_cast<uint8_t*>(piece.data()));
        buffers[count].len = static_cast<ULONG>(std::min<size_t>(piece.size(), ULONG_MAX / 2));
        ++count;
    }
    DWORD sent = 0;
    if (WSASend(as_socket(fd), buffers, count, &sent, 0, nullptr, nullptr) != 0) return -1;
    return static_cast<long>(sent);
}

int socket_last_error() {
    switch (WSAGetLastError()) {
        case WSAETIMEDOUT:
        case WSAEWOULDBLOCK:
            return EAGAIN;
        case WSAECONNRESET:
            return ECONNRESET;
        case WSAECONNABORTED:
        case WSA_OPERATION_ABORTED:
            return ECONNABORTED;
        case WSAESHUTDOWN:
        case WSAENOTCONN:
            return EPIPE;
        case WSAEINTR:
            return EINTR;
        case WSAENOBUFS:
            return ENOBUFS;
        default:
            return EIO;
    }
}

bool socket_is_ip_literal(const std::string& host) {
    unsigned char scratch[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), scratch) == 1 || inet_pton(AF_INET6, host.c_str(), scratch) == 1;
}
