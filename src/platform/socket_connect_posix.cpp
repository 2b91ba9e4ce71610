// TCP connect with a bounded wait: the socket is made non-blocking for the
// connect, polled for writability, checked with SO_ERROR, then made blocking
// again with SO_RCVTIMEO/SO_SNDTIMEO set to the caller's time-out.
//
// getaddrinfo cannot be interrupted, and an unreachable name server holds
// it for many seconds. So when the caller can cancel, a name (an address
// literal needs no lookup) is looked up on a thread of its own; a cancelled
// caller leaves it behind, and the thread frees what it found itself.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/socket_connect.h"

namespace {

constexpr uint32_t CANCEL_SLICE_MS = 100;

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

// One lookup shared between the caller and the thread doing it.
struct Lookup {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    addrinfo* results = nullptr;
};

addrinfo* lookup_now(const std::string& host, const std::string& service, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* results = nullptr;
    return getaddrinfo(host.c_str(), service.c_str(), &hints, &results) == 0 ? results : nullptr;
}

// The addresses of `host`, or nullptr when it did not resolve or `cancel`
// was set first (seen within one slice).
addrinfo* resolve(const std::string& host, uint16_t port, Event* cancel) {
    std::string service = std::to_string(port);
    if (addrinfo* literal = lookup_now(host, service, AI_NUMERICHOST)) return literal;
    if (!cancel) return lookup_now(host, service, 0);
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service] {
            addrinfo* results = lookup_now(host, service, 0);
            std::lock_guard guard(lookup->lock);
            if (lookup->abandoned) {
                if (results) freeaddrinfo(results);
                return;
            }
            lookup->results = results;
            lookup->done = true;
            lookup->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {  // no thread to be had: look up here
        return lookup_now(host, service, 0);
    }
    std::unique_lock guard(lookup->lock);
    while (!lookup->done) {
        if (event_is_set(cancel)) {
            lookup->abandoned = true;
            return nullptr;
        }
        lookup->finished.wait_for(guard, std::chrono::milliseconds(CANCEL_SLICE_MS));
    }
    return lookup->results;
}

}  // namespace

int socket_connect(const std::string& host, uint16_t port, uint32_t timeout_ms, Event* cancel) {
    ignore_sigpipe_once();
    addrinfo* results = resolve(host, port, cancel);
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
