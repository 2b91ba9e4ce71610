// HTTP client: connection, TLS, send/receive, redirects.
//
// TLS is the shared client of platform/network/tls_client.h: one process-wide,
// reference-counted context (so http_client_shutdown never pulls it out from
// under a request in flight), trust from the system store only, and the
// store's counters quoted in the verification failure message.
#include "net/http_client.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>

#include "net/http_message.h"
#include "net/http_url.h"
#include "platform/network/socket_connect.h"
#include "platform/network/tls_client.h"
#include "platform/text/error_text.h"
#include "platform/time/clock.h"

namespace {

// One connection: the socket, its TLS session if any, and the listener that
// shuts the socket down on a cancel. Released in one place (close_connection).
struct Connection {
    int fd = -1;
    TlsSessionPtr tls;
    HttpCancel* cancel = nullptr;
    std::optional<EventListener> cancel_watch;
};

Event* cancel_event(HttpCancel* cancel) {
    return cancel ? &cancel->cancelled : nullptr;
}

bool was_cancelled(HttpCancel* cancel) {
    return event_is_set(cancel_event(cancel));
}

// From here on a cancel shuts the socket down, so whatever blocks on it (the
// TLS handshake, a send, a receive) returns at once. False when the request
// was cancelled already.
bool watch_cancel(Connection* connection) {
    if (!connection->cancel) return true;
    connection->cancel_watch.emplace(cancel_event(connection->cancel), socket_shutdown_listener, &connection->fd);
    return !was_cancelled(connection->cancel);
}

void close_connection(Connection* connection) {
    connection->tls.reset();
    // Stop listening before closing, so a cancel never shuts down a number
    // the system has handed out again.
    connection->cancel_watch.reset();
    socket_close(connection->fd);
    connection->fd = -1;
}

bool start_tls(Connection* connection, const HttpUrl& url, std::span<char> error) {
    TlsVerdict verdict;
    TlsSession* session = nullptr;
    TlsOpenResult result = tls_open(connection->fd, url.host, &session, &verdict);
    connection->tls.reset(session);
    if (result == TlsOpenResult::context_failed) error_printf(error, "OpenSSL initialization failed");
    if (result == TlsOpenResult::handshake_failed || result == TlsOpenResult::verify_failed) {
        error_printf(error, "TLS verification failed: %s", verdict.text);
    }
    return result == TlsOpenResult::ok;
}

bool send_all(Connection* connection, const std::string& request) {
    if (connection->tls) return tls_write(connection->tls.get(), request.data(), request.size()) > 0;
    size_t sent = 0;
    while (sent < request.size()) {
        long step = socket_send(connection->fd, request.data() + sent, request.size() - sent);
        if (step < 1) return false;
        sent += static_cast<size_t>(step);
    }
    return true;
}

long receive_step(Connection* connection, uint8_t* into, size_t size) {
    if (connection->tls) return tls_read(connection->tls.get(), into, size);
    return socket_recv(connection->fd, into, size);
}

constexpr size_t kReserveLimit = size_t{64} << 20;

// The bounds of one call, fixed when it starts.
struct RequestBounds {
    uint32_t timeout_ms = 0;  // as the caller gave it; 0: none
    uint64_t deadline_ms = UINT64_MAX;
    HttpResponseLimit limit;
};

RequestBounds bounds_from_now(uint32_t timeout_ms, HttpResponseLimit limit) {
    RequestBounds bounds{timeout_ms, UINT64_MAX, limit};
    if (timeout_ms != 0) bounds.deadline_ms = tick_ms() + timeout_ms;
    return bounds;
}

bool expired(const RequestBounds& bounds) {
    return tick_ms() >= bounds.deadline_ms;
}

// How long one wait may take now: what is left of the bound (at least 1 ms,
// since 0 means no limit to the socket), or no limit without a bound.
uint32_t wait_limit(const RequestBounds& bounds) {
    if (bounds.timeout_ms == 0) return 0;
    uint64_t now = tick_ms();
    return static_cast<uint32_t>(bounds.deadline_ms > now + 1 ? bounds.deadline_ms - now : 1);
}

bool timed_out(const RequestBounds& bounds, std::span<char> error) {
    error_printf(error, "%s timed out after %u s", bounds.limit.what, (bounds.timeout_ms + 999) / 1000);
    return false;
}

// False, with the bound named, when the response has outgrown what we hold.
bool within_bounds(const RequestBounds& bounds, const std::vector<uint8_t>& response, const HttpResponseScan& scan,
                   std::span<char> error) {
    size_t header = scan.header_found ? scan.header_length : response.size();
    if (header > HTTP_MAX_HEADER_BYTES) {
        error_printf(error, "HTTP response header too large (over %zu KiB)", HTTP_MAX_HEADER_BYTES >> 10);
        return false;
    }
    if (!scan.header_found) return true;
    // With a length, bytes past it are never kept; without one (or chunked),
    // everything received counts.
    bool by_length = !scan.chunked && scan.expected_length != HTTP_NO_LENGTH;
    size_t body = by_length ? scan.expected_length : response.size() - header;
    if (body <= bounds.limit.max_body) return true;
    error_printf(error, "%s too large (over %zu MiB)", bounds.limit.what, bounds.limit.max_body >> 20);
    return false;
}

// Receives until the response is complete by its own framing or the peer
// stops sending (a close or an error just ends receiving). False when a
// bound is passed (with the reason) or the block cannot grow.
bool receive_response(Connection* connection, const RequestBounds& bounds, std::vector<uint8_t>* response,
                      HttpResponseScan* scan, std::span<char> error) {
    for (;;) {
        // Each receive may wait only for what is left of the whole bound.
        if (expired(bounds)) return timed_out(bounds, error);
        if (!socket_set_timeouts(connection->fd, wait_limit(bounds))) return false;
        size_t used = response->size();
        if (response->capacity() < used + HTTP_RECEIVE_STEP) {
            response->reserve(std::max(used * 2, used + HTTP_RECEIVE_STEP));
        }
        response->resize(used + HTTP_RECEIVE_STEP);
        long got = receive_step(connection, response->data() + used, HTTP_RECEIVE_STEP);
        response->resize(used + static_cast<size_t>(std::max(got, 0L)));
        if (got < 1) return expired(bounds) ? timed_out(bounds, error) : true;
        http_scan_response(scan, *response);
        if (!within_bounds(bounds, *response, *scan, error)) return false;
        if (http_response_complete(*scan, *response)) return true;
        // Once the length is known, one block that holds it all: no doubling
        // and copying through ever larger blocks for a segment of megabytes
        // (up to a bound, so an announced length alone reserves no more).
        if (scan->header_found && scan->expected_length <= kReserveLimit) {
            response->reserve(scan->header_length + scan->expected_length + HTTP_RECEIVE_STEP);
        }
    }
}

bool exchange(Connection* connection, const HttpUrl& url, const RequestBounds& bounds, ByteBuffer* body,
              uint32_t* status, std::span<char> location, std::span<char> error) {
    connection->fd = socket_connect(url.host, url.port, wait_limit(bounds), cancel_event(connection->cancel));
    bool done = connection->fd >= 0 && watch_cancel(connection) && (!url.tls || start_tls(connection, url, error)) &&
                send_all(connection, http_format_request(url));
    std::vector<uint8_t> response;
    HttpResponseScan scan;
    if (done) done = receive_response(connection, bounds, &response, &scan, error);
    if (was_cancelled(connection->cancel)) {
        error_printf(error, "request cancelled");
        return false;
    }
    if (connection->fd < 0) error_printf(error, "connection failed");
    return done && http_parse_response(response, scan, body, status, location, error);
}

bool get_once(std::string_view url_text, const RequestBounds& bounds, ByteBuffer* body, uint32_t* status,
              std::span<char> location, std::span<char> error, HttpCancel* cancel) {
    error_clear(location);
    HttpUrl url;
    if (!http_parse_url(url_text, &url)) {
        error_printf(error, "invalid URL");
        return false;
    }
    Connection connection;
    connection.cancel = cancel;
    bool ok = false;
    try {
        ok = exchange(&connection, url, bounds, body, status, location, error);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    close_connection(&connection);
    if (!ok) error_set_if_empty(error, "HTTP read failed");
    return ok;
}

}  // namespace

void http_cancel(HttpCancel* cancel) {
    if (cancel) cancel->cancelled.set();
}

bool http_get_once(std::string_view url, uint32_t timeout_ms, ByteBuffer* body, uint32_t* status,
                   std::span<char> location, std::span<char> error, HttpCancel* cancel, HttpResponseLimit limit) {
    return get_once(url, bounds_from_now(timeout_ms, limit), body, status, location, error, cancel);
}

bool http_get(std::string_view url, uint32_t timeout_ms, ByteBuffer* body, uint32_t* status, std::span<char> error,
              HttpCancel* cancel, std::string* final_url, HttpResponseLimit limit) {
    const RequestBounds bounds = bounds_from_now(timeout_ms, limit);
    byte_buffer_free(body);
    uint32_t code = 0;
    if (status) *status = 0;
    error_clear(error);
    std::string current(url.substr(0, HTTP_LOCATION_SIZE - 1));
    char location[HTTP_LOCATION_SIZE];
    for (int request = 0; request < HTTP_MAX_REQUESTS; ++request) {
        location[0] = '\0';
        bool ok = get_once(current, bounds, body, &code, location, error, cancel);
        if (status) *status = code;
        if (final_url) *final_url = current;
        if (!ok) return false;
        if (code < 300 || code > 399 || location[0] == '\0') return code >= 200 && code <= 299;
        byte_buffer_free(body);
        current = http_resolve_reference(current, location).substr(0, HTTP_LOCATION_SIZE - 1);
    }
    error_printf(error, "too many redirects");
    return false;
}

void http_client_shutdown() {
    tls_client_shutdown();
}

HttpTlsCounters http_tls_counters() {
    TlsCounters counters = tls_client_counters();
    return {counters.roots, counters.parsed, counters.seen};
}
