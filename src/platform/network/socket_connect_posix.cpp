// TCP connect with a bounded wait: the socket is made non-blocking for the
// connect, polled for writability, checked with SO_ERROR, then made blocking
// again with SO_RCVTIMEO/SO_SNDTIMEO set to the caller's time-out.
// Names are looked up by socket_resolve (cancellable).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>

#include "platform/network/socket_connect.h"
#include "platform/network/socket_resolve.h"

namespace {

constexpr uint32_t CANCEL_SLICE_MS = 100;
constexpr size_t GATHER_MAX = 64;  // iovec entries per sendmsg, well under IOV_MAX

void ignore_sigpipe_once() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

bool set_timeouts(int fd, uint32_t timeout_ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout_ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000) * 1000);
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

// Waits for the connect to finish in slices, so a cancel is seen within one.
bool wait_connected(int fd, uint32_t timeout_ms, Event* cancel) {
    uint64_t waited = 0;
    for (;;) {
        if (event_is_set(cancel)) return false;
        uint64_t slice = CANCEL_SLICE_MS;
        if (timeout_ms != 0) slice = std::min<uint64_t>(slice, timeout_ms - waited);
        pollfd wait{fd, POLLOUT, 0};
        int rc = poll(&wait, 1, static_cast<int>(slice));
        if (rc == 1) return true;
        if (rc < 0 && errno != EINTR) return false;
        waited += slice;
        if (timeout_ms != 0 && waited >= timeout_ms) return false;
    }
}

bool connect_bounded(int fd, const addrinfo* address, uint32_t timeout_ms, Event* cancel) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    int rc = connect(fd, address->ai_addr, address->ai_addrlen);
    if (rc != 0 && errno != EINPROGRESS) return false;
    if (rc != 0) {
        if (!wait_connected(fd, timeout_ms, cancel)) return false;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
    }
    return fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace

int socket_connect(const std::string& host, uint16_t port, uint32_t timeout_ms, Event* cancel) {
    ignore_sigpipe_once();
    addrinfo* results = socket_resolve(host, port, cancel);
    if (!results) return -1;
    int connected = -1;
    for (addrinfo* address = results; address && connected < 0; address = address->ai_next) {
        int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0) continue;
        if (set_timeouts(fd, timeout_ms) && connect_bounded(fd, address, timeout_ms, cancel)) {
            connected = fd;
        } else {
            close(fd);
        }
    }
    freeaddrinfo(results);
    return connected;
}

bool socket_set_timeouts(int fd, uint32_t timeout_ms) {
    return set_timeouts(fd, timeout_ms);
}

bool socket_limit_unsent(int fd, uint32_t bytes) {
    const int value = static_cast<int>(bytes);
    return setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &value, sizeof value) == 0;
}

void socket_shutdown_listener(void* context) {
    int fd = *static_cast<int*>(context);
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

void socket_close(int fd) {
    if (fd >= 0) close(fd);
}

long socket_send(int fd, const void* data, size_t size) {
    ssize_t sent;
    do {
        sent = send(fd, data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long socket_recv(int fd, void* data, size_t size) {
    ssize_t got;
    do {
        got = recv(fd, data, size, 0);
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

long socket_send_pieces(int fd, std::span<const std::span<const uint8_t>> pieces) {
    iovec vectors[GATHER_MAX];
    size_t count = 0;
    for (std::span<const uint8_t> piece : pieces) {
        if (count == GATHER_MAX) break;
        if (!piece.empty()) vectors[count++] = {const_cast<uint8_t*>(piece.data()), piece.size()};
    }
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = count;
    ssize_t sent;
    do {
        sent = sendmsg(fd, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

int socket_last_error() {
    return errno;
}

bool socket_is_ip_literal(const std::string& host) {
    unsigned char scratch[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), scratch) == 1 || inet_pton(AF_INET6, host.c_str(), scratch) == 1;
}
