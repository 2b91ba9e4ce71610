// The TLS client on OpenSSL: one shared SSL_CTX, reference-counted, filled
// from the system's bundle file and hashed folder (see trust_store.h).
// Nothing here is released at process end on purpose: a session may still
// be running on a thread the process no longer waits for.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <climits>
#include <mutex>
#include <new>

#include "platform/network/socket_connect.h"
#include "platform/network/tls_client.h"
#include "platform/network/trust_store.h"
#include "platform/text/error_text.h"

struct TlsSession {
    SSL* ssl = nullptr;
    int io_error = 0;
};

namespace {

struct TlsClientState {
    std::mutex lock;
    SSL_CTX* context = nullptr;
    TrustCounters counters;
};

// Never destroyed, for the reason in the opening comment.
TlsClientState& tls_state() {
    static auto* state = new TlsClientState;
    return *state;
}

SSL_CTX* create_context(TrustCounters* counters) {
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

// The shared context with one reference for the caller (SSL_CTX_free it), or null.
SSL_CTX* acquire_context() {
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    if (!state.context) state.context = create_context(&state.counters);
    if (!state.context || SSL_CTX_up_ref(state.context) != 1) return nullptr;
    return state.context;
}

bool configure(SSL* ssl, int socket, const std::string& host) {
    // Server name indication carries names only: an address there is not
    // allowed and some servers refuse it.
    if (!socket_is_ip_literal(host) && SSL_set_tlsext_host_name(ssl, host.c_str()) != 1) return false;
    return SSL_set1_host(ssl, host.c_str()) == 1 && SSL_set_fd(ssl, socket) == 1;
}

// Why a read or write ended: 0 for close-notify or a plain end of stream.
int io_error_of(SSL* ssl, int result) {
    int saved = errno;
    int reason = SSL_get_error(ssl, result);
    ERR_clear_error();
    if (reason == SSL_ERROR_ZERO_RETURN) return 0;
    if (reason == SSL_ERROR_SYSCALL || reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) return saved;
    return EPROTO;
}

int clamp_size(size_t size) {
    return static_cast<int>(size < INT_MAX ? size : INT_MAX);
}

}  // namespace

TlsOpenResult tls_open(int socket, const std::string& host, TlsSession** session, TlsVerdict* verdict) {
    *session = nullptr;
    ERR_clear_error();
    SSL_CTX* context = acquire_context();
    if (!context) return TlsOpenResult::context_failed;
    TlsSessionPtr opened(new (std::nothrow) TlsSession);
    if (!opened) {
        SSL_CTX_free(context);
        return TlsOpenResult::session_failed;
    }
    opened->ssl = SSL_new(context);
    SSL_CTX_free(context);  // the session holds its own reference
    if (!opened->ssl || !configure(opened->ssl, socket, host)) {
        ERR_clear_error();
        return TlsOpenResult::session_failed;
    }
    bool connected = SSL_connect(opened->ssl) == 1;
    long verify = SSL_get_verify_result(opened->ssl);
    ERR_clear_error();
    if (connected && verify == X509_V_OK) {
        *session = opened.release();
        return TlsOpenResult::ok;
    }
    TlsCounters counters = tls_client_counters();
    verdict->result = verify;
    error_printf(verdict->text, "%ld %s (roots=%d parsed=%d seen=%d)", verify, X509_verify_cert_error_string(verify),
                 counters.roots, counters.parsed, counters.seen);
    // A rejected certificate also aborts the handshake; naming the verify
    // result then tells far more than "handshake failed".
    return verify == X509_V_OK ? TlsOpenResult::handshake_failed : TlsOpenResult::verify_failed;
}

long tls_write(TlsSession* session, const void* data, size_t size) {
    errno = 0;
    int sent = SSL_write(session->ssl, data, clamp_size(size));
    if (sent <= 0) session->io_error = io_error_of(session->ssl, sent);
    return sent;
}

long tls_read(TlsSession* session, void* data, size_t size) {
    errno = 0;
    int got = SSL_read(session->ssl, data, clamp_size(size));
    if (got > 0) return got;
    session->io_error = io_error_of(session->ssl, got);
    return session->io_error == 0 ? 0 : -1;
}

int tls_io_error(const TlsSession* session) {
    return session->io_error;
}

void tls_close(TlsSession* session) {
    if (!session) return;
    if (session->ssl) {
        if (SSL_is_init_finished(session->ssl)) SSL_shutdown(session->ssl);
        ERR_clear_error();
        SSL_free(session->ssl);
    }
    delete session;
}

void tls_client_shutdown() {
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    SSL_CTX_free(state.context);
    state.context = nullptr;
}

TlsCounters tls_client_counters() {
    TlsClientState& state = tls_state();
    std::lock_guard guard(state.lock);
    return {state.counters.added, state.counters.parsed, state.counters.seen};
}
