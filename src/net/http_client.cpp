// HTTP client: connection, TLS, send/receive, redirects.
//
// TLS is the shared client of platform/tls_client.h: one process-wide,
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
#include "platform/error_text.h"
#include "platform/socket_connect.h"
#include "platform/tls_client.h"

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

// Receives until the response is complete by its own framing or the peer
// stops sending (close, error or time-out all just end receiving). False only
// when the block cannot grow.
bool receive_response(Connection* connection, std::vector<uint8_t>* response, HttpResponseScan* scan) {
    for (;;) {
        size_t used = response->size();
        if (used >= HTTP_MAX_RESPONSE_BYTES) return false;
        size_t step = std::min(HTTP_RECEIVE_STEP, HTTP_MAX_RESPONSE_BYTES - used);
        if (response->capacity() < used + step) response->reserve(std::max(used * 2, used + step));
        response->resize(used + step);
        long got = receive_step(connection, response->data() + used, step);
        response->resize(used + static_cast<size_t>(std::max(got, 0L)));
        if (got < 1) return true;
        http_scan_response(scan, *response);
        if (http_response_complete(*scan, *response)) return true;
        // Once the length is known, one block that holds it all: no doubling
        // and copying through ever larger blocks for a segment of megabytes
        // (up to a bound, so an announced length alone reserves no more).
        if (scan->header_found && scan->expected_length <= kReserveLimit) {
            response->reserve(scan->header_length + scan->expected_length + HTTP_RECEIVE_STEP);
        }
    }
}

bool exchange(Connection* connection, const HttpUrl& url, uint32_t timeout_ms, ByteBuffer* body, uint32_t* status,
              std::span<char> location, std::span<char> error) {
    connection->fd = socket_connect(url.host, url.port, timeout_ms, cancel_event(connection->cancel));
    bool done = connection->fd >= 0 && watch_cancel(connection) && (!url.tls || start_tls(connection, url, error)) &&
                send_all(connection, http_format_request(url));
    std::vector<uint8_t> response;
    HttpResponseScan scan;
    if (done) done = receive_response(connection, &response, &scan);
    if (was_cancelled(connection->cancel)) {
        error_printf(error, "request cancelled");
        return false;
    }
    if (connection->fd < 0) error_printf(error, "connection failed");
    return done && http_parse_response(response, scan, body, status, location, error);
}

}  // namespace

void http_cancel(HttpCancel* cancel) {
    if (cancel) cancel->cancelled.set();
}

bool http_get_once(std::string_view url_text, uint32_t timeout_ms, ByteBuffer* body, uint32_t* status,
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
        ok = exchange(&connection, url, timeout_ms, body, status, location, error);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    close_connection(&connection);
    if (!ok) error_set_if_empty(error, "HTTP read failed");
    return ok;
}

bool http_get(std::string_view url, uint32_t timeout_ms, ByteBuffer* body, uint32_t* status, std::span<char> error,
              HttpCancel* cancel, std::string* final_url) {
    byte_buffer_free(body);
    uint32_t code = 0;
    if (status) *status = 0;
    error_clear(error);
    std::string current(url.substr(0, HTTP_LOCATION_SIZE - 1));
    char location[HTTP_LOCATION_SIZE];
    for (int request = 0; request < HTTP_MAX_REQUESTS; ++request) {
        location[0] = '\0';
        bool ok = http_get_once(current, timeout_ms, body, &code, location, error, cancel);
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
