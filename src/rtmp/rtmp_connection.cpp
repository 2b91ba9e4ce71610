// Connection set-up and teardown, and the two I/O primitives.
//
// Order of rtmp_open, each step failing with its own text:
//   URL -> TCP (connect bounded by the time-out, sends/receives too)
//       -> rtmps: fresh TLS 1.2+ client context, system roots, SNI and
//          host-name check, handshake, verify result
//       -> RTMP handshake -> publish command exchange
// Whatever fails, the caller gets the connection's own text or the generic
// "RTMP/RTMPS connection failed"; none of them names the URL or the key.
#include "rtmp/rtmp_connection.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <new>

#include "platform/error_text.h"
#include "platform/socket_connect.h"
#include "platform/trust_store.h"
#include "rtmp/rtmp_commands.h"
#include "rtmp/rtmp_handshake.h"
#include "rtmp/rtmp_url.h"

namespace {

constexpr size_t IO_STEP_MAX = INT_MAX;

bool is_ip_literal(const std::string& host) {
    unsigned char scratch[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), scratch) == 1 || inet_pton(AF_INET6, host.c_str(), scratch) == 1;
}

// Records why a TLS step ended: 0 for close-notify or a plain EOF.
int tls_io_error(SSL* session, int result) {
    int saved = errno;
    int reason = SSL_get_error(session, result);
    ERR_clear_error();
    if (reason == SSL_ERROR_ZERO_RETURN) return 0;
    if (reason == SSL_ERROR_SYSCALL || reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) return saved;
    return EPROTO;
}

long write_step(RtmpPublisher* p, const uint8_t* data, size_t size) {
    if (SSL* session = p->tls_session.get()) {
        errno = 0;
        int sent = SSL_write(session, data, static_cast<int>(size));
        if (sent <= 0) p->last_io_error = tls_io_error(session, sent);
        return sent;
    }
    long sent = socket_send(p->socket.fd, data, size);
    if (sent <= 0) p->last_io_error = sent == 0 ? 0 : errno;
    return sent;
}

long read_step(RtmpPublisher* p, uint8_t* data, size_t size) {
    if (SSL* session = p->tls_session.get()) {
        errno = 0;
        int got = SSL_read(session, data, static_cast<int>(size));
        if (got <= 0) p->last_io_error = tls_io_error(session, got);
        return got;
    }
    long got = socket_recv(p->socket.fd, data, size);
    if (got <= 0) p->last_io_error = got == 0 ? 0 : errno;
    return got;
}

// The TLS half of opening; leaves its failure text in the publisher.
bool start_tls(RtmpPublisher* p, const RtmpUrl& url) {
    p->tls_context.reset(SSL_CTX_new(TLS_client_method()));
    if (!p->tls_context) {
        rtmp_set_error(p, "RTMPS TLS context failed");
        return false;
    }
    SSL_CTX* context = p->tls_context.get();
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    load_system_root_certificates(context, TrustSource::bundle_file, nullptr);
    load_system_root_certificates(context, TrustSource::hashed_directory, nullptr);
    p->tls_session.reset(SSL_new(context));
    if (!p->tls_session) {
        rtmp_set_error(p, "RTMPS TLS session failed");
        return false;
    }
    SSL* session = p->tls_session.get();
    // Server names only: an address in SNI is not allowed and some servers refuse it.
    bool configured = (is_ip_literal(url.host) || SSL_set_tlsext_host_name(session, url.host.c_str()) == 1) &&
                      SSL_set1_host(session, url.host.c_str()) == 1 && SSL_set_fd(session, p->socket.fd) == 1;
    if (!configured) {
        ERR_clear_error();
        rtmp_set_error(p, "RTMPS TLS session failed");
        return false;
    }
    int connected = SSL_connect(session);
    long verify = SSL_get_verify_result(session);
    ERR_clear_error();
    // A rejected certificate also aborts the handshake; naming the verify
    // result then tells the user far more than "handshake failed".
    if (connected != 1 && verify == X509_V_OK) {
        rtmp_set_error(p, "RTMPS TLS handshake failed");
        return false;
    }
    if (verify != X509_V_OK) {
        rtmp_set_error(p, "RTMPS certificate verification failed: %ld", verify);
        return false;
    }
    return true;
}

bool connect_and_publish(RtmpPublisher* p, const RtmpUrl& url) {
    p->socket.fd = socket_connect(url.host, url.port, p->timeout_ms);
    if (p->socket.fd < 0) return false;
    if (url.tls && !start_tls(p, url)) return false;
    if (!rtmp_handshake(p)) return false;
    return rtmp_start_publish(p, url);
}

}  // namespace

void SslSessionFree::operator()(SSL* session) const {
    if (SSL_is_init_finished(session)) SSL_shutdown(session);
    ERR_clear_error();
    SSL_free(session);
}

SocketHandle::~SocketHandle() { socket_close(fd); }

RtmpPublisher* rtmp_publisher_create(uint32_t timeout_ms) {
    RtmpPublisher* p = new (std::nothrow) RtmpPublisher();
    if (p) p->timeout_ms = timeout_ms;
    return p;
}

void rtmp_set_error(RtmpPublisher* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    error_vprintf(p->error, format, args);
    va_end(args);
}

bool rtmp_write_all(RtmpPublisher* p, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        long sent = write_step(p, bytes.data() + done, std::min(bytes.size() - done, IO_STEP_MAX));
        if (sent < 1) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

bool rtmp_read_exact(RtmpPublisher* p, std::span<uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        long got = read_step(p, bytes.data() + done, std::min(bytes.size() - done, IO_STEP_MAX));
        if (got < 1) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

RtmpPublisher* rtmp_open(std::string_view url_text, uint32_t timeout_ms, std::span<char> error) {
    RtmpUrl url;
    if (!rtmp_parse_url(url_text, &url)) {
        error_printf(error, "invalid RTMP/RTMPS URL");
        return nullptr;
    }
    RtmpPublisherPtr p(rtmp_publisher_create(timeout_ms));
    if (!p) return nullptr;
    if (connect_and_publish(p.get(), url)) return p.release();
    if (p->error[0] != '\0') {
        error_printf(error, "%s", p->error);
    } else {
        error_printf(error, "RTMP/RTMPS connection failed");
    }
    return nullptr;
}

void rtmp_close(RtmpPublisher* publisher) { delete publisher; }
