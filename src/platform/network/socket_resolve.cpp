// Name lookup that a cancel can cut short. getaddrinfo cannot be
// interrupted, and an unreachable name server holds it for many seconds. So
// when the caller can cancel, a name (an address literal needs no lookup)
// is looked up on a thread of its own; a cancelled caller leaves it behind,
// and the thread frees what it found itself.
#include "platform/network/socket_resolve.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr uint32_t CANCEL_SLICE_MS = 100;

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

}  // namespace

addrinfo* socket_resolve(const std::string& host, uint16_t port, Event* cancel) {
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
