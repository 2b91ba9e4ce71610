// HTTP client: connection, TLS, send/receive, redirects.
//
// The TLS client context is created once, on the first https request, under
// one process-wide mutex, so two threads that start together still create one
// context and load the trust store once. Its lifetime is a reference count:
// the process-wide pointer holds one reference, and every request that uses
// it takes its own (under the same mutex) before creating its session.
// http_client_shutdown only drops the process-wide reference, so a request
// in flight keeps using a context that shutdown has already "released"; the
// memory goes when its last session ends. Nothing here is released at
// process end on purpose: a request may still be running on a thread the
// process no longer waits for.
//
// Trust comes from the system store only (bundle file, then hashed folder);
// the counters of those loads only grow and are quoted in the verification
// failure message, which makes "no roots were found" tell-tale.
#include "net/http_client.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string>

#include "net/http_message.h"
#include "net/http_url.h"
#include "platform/error_text.h"
#include "platform/socket_connect.h"
#include "platform/trust_store.h"

namespace {

struct TlsClientState {
    std::mutex lock;
    SSL_CTX* context = nullptr;
    TrustCounters counters;
};

// Never destroyed: a request on a thread the process no longer waits for may
// still reach it while static objects are being torn down.
TlsClientState& tls_state() {
    static auto* state = new TlsClientState;
    return *state;
}

SSL_CTX* create_tls_context(TrustCounters* counters) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) return nullptr;
    if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    (void)load_system_root_certificates(context, TrustSource::bundle_file, counters);
    (void)load_system_root_certificates(context, TrustSource::hashed_directory, counters);
    return context;
}

// The shared context with one reference for the caller (SSL_CTX_free it), or
// nullptr with "OpenSSL initialization failed".
SSL_CTX* acquire_tls_context(std::span<char> error) {
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    if (!state.context) state.context = create_tls_context(&state.counters);
    if (!state.context || SSL_CTX_up_ref(state.context) != 1) {
        error_printf(error, "OpenSSL initialization failed");
        return nullptr;
    }
    return state.context;
}

bool is_ip_literal(const std::string& host) {
    in6_addr v6;
    in_addr v4;
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

// One connection: the socket, its TLS session if any, and the listener that
// shuts the socket down on a cancel. Released in one place (close_connection).
struct Connection {
    int fd = -1;
    SSL* ssl = nullptr;
    HttpCancel* cancel = nullptr;
    std::optional<EventListener> cancel_watch;
};

Event* cancel_event(HttpCancel* cancel) { return cancel ? &cancel->cancelled : nullptr; }

bool was_cancelled(HttpCancel* cancel) { return event_is_set(cancel_event(cancel)); }

// From here on a cancel shuts the socket down, so whatever blocks on it (the
// TLS handshake, a send, a receive) returns at once. False when the request
// was cancelled already.
bool watch_cancel(Connection* connection) {
    if (!connection->cancel) return true;
    connection->cancel_watch.emplace(cancel_event(connection->cancel), socket_shutdown_listener, &connection->fd);
    return !was_cancelled(connection->cancel);
}

void close_connection(Connection* connection) {
    if (connection->ssl) {
        if (SSL_is_init_finished(connection->ssl)) SSL_shutdown(connection->ssl);
        SSL_free(connection->ssl);
        connection->ssl = nullptr;
    }
    // Stop listening before closing, so a cancel never shuts down a number
    // the system has handed out again.
    connection->cancel_watch.reset();
    socket_close(connection->fd);
    connection->fd = -1;
}

bool start_tls(Connection* connection, const HttpUrl& url, std::span<char> error) {
    ERR_clear_error();
    SSL_CTX* context = acquire_tls_context(error);
    if (!context) return false;
    connection->ssl = SSL_new(context);
    SSL_CTX_free(context);  // the session holds its own reference
    if (!connection->ssl) return false;
    // Server name indication carries names only, never addresses.
    if (!is_ip_literal(url.host)) SSL_set_tlsext_host_name(connection->ssl, url.host.c_str());
    if (SSL_set1_host(connection->ssl, url.host.c_str()) != 1 || SSL_set_fd(connection->ssl, connection->fd) != 1) {
        return false;
    }
    bool connected = SSL_connect(connection->ssl) == 1;
    long verify = SSL_get_verify_result(connection->ssl);
    if (connected && verify == X509_V_OK) return true;
    HttpTlsCounters counters = http_tls_counters();
    error_printf(error, "TLS verification failed: %ld %s (roots=%d parsed=%d seen=%d)", verify,
                 X509_verify_cert_error_string(verify), counters.roots, counters.parsed, counters.seen);
    return false;
}

bool send_all(Connection* connection, const std::string& request) {
    if (connection->ssl) return SSL_write(connection->ssl, request.data(), static_cast<int>(request.size())) > 0;
    size_t sent = 0;
    while (sent < request.size()) {
        long step = socket_send(connection->fd, request.data() + sent, request.size() - sent);
        if (step < 1) return false;
        sent += static_cast<size_t>(step);
    }
    return true;
}

long receive_step(Connection* connection, uint8_t* into, size_t size) {
    if (connection->ssl) return SSL_read(connection->ssl, into, static_cast<int>(size));
    return socket_recv(connection->fd, into, size);
}

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
    }
}

bool exchange(Connection* connection, const HttpUrl& url, uint32_t timeout_ms, ByteBuffer* body,
              uint32_t* status, std::span<char> location, std::span<char> error) {
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

bool http_get(std::string_view url, uint32_t timeout_ms, ByteBuffer* body, uint32_t* status,
              std::span<char> error, HttpCancel* cancel, std::string* final_url) {
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
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    SSL_CTX_free(state.context);
    state.context = nullptr;
}

HttpTlsCounters http_tls_counters() {
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    return {state.counters.added, state.counters.parsed, state.counters.seen};
}
