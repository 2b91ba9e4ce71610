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
#include <sys/socket.h>
#include <sys/uio.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstring>
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
constexpr size_t GATHER_MAX = 64;  // iovec entries per sendmsg, well under IOV_MAX

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
    ++p->write_steps;
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

// Where a gathered write has got to: piece `index`, `offset` bytes into it.
struct PieceCursor {
    std::span<const std::span<const uint8_t>> pieces;
    size_t index = 0;
    size_t offset = 0;

    void skip_empty() {
        while (index < pieces.size() && offset == pieces[index].size()) {
            ++index;
            offset = 0;
        }
    }
    void advance(size_t bytes) {
        while (bytes > 0) {
            size_t left = pieces[index].size() - offset;
            size_t step = std::min(left, bytes);
            offset += step;
            bytes -= step;
            skip_empty();
        }
    }
};

bool write_pieces_socket(RtmpPublisher* p, std::span<const std::span<const uint8_t>> pieces) {
    PieceCursor cursor{pieces};
    cursor.skip_empty();
    while (cursor.index < pieces.size()) {
        iovec vectors[GATHER_MAX];
        size_t count = 0;
        for (size_t i = cursor.index; i < pieces.size() && count < GATHER_MAX; ++i) {
            size_t skip = i == cursor.index ? cursor.offset : 0;
            if (pieces[i].size() == skip) continue;
            vectors[count++] = {const_cast<uint8_t*>(pieces[i].data() + skip), pieces[i].size() - skip};
        }
        msghdr message{};
        message.msg_iov = vectors;
        message.msg_iovlen = count;
        ++p->write_steps;
        ssize_t sent;
        do {
            sent = sendmsg(p->socket.fd, &message, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent <= 0) {
            p->last_io_error = sent == 0 ? 0 : errno;
            return false;
        }
        cursor.advance(static_cast<size_t>(sent));
    }
    return true;
}

bool write_pieces_tls(RtmpPublisher* p, std::span<const std::span<const uint8_t>> pieces) {
    size_t staged = 0;
    for (std::span<const uint8_t> piece : pieces) {
        while (!piece.empty()) {
            size_t take = std::min(piece.size(), p->tls_staging.size() - staged);
            std::memcpy(p->tls_staging.data() + staged, piece.data(), take);
            staged += take;
            piece = piece.subspan(take);
            if (staged == p->tls_staging.size()) {
                if (!rtmp_write_all(p, p->tls_staging)) return false;
                staged = 0;
            }
        }
    }
    return rtmp_write_all(p, std::span<const uint8_t>(p->tls_staging).first(staged));
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

bool connect_and_publish(RtmpPublisher* p, const RtmpUrl& url, Event* stop) {
    p->socket.fd = socket_connect(url.host, url.port, p->timeout_ms, stop);
    if (p->socket.fd < 0) return false;
    p->stop_watch.emplace(stop, socket_shutdown_listener, &p->socket.fd);
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

bool rtmp_write_pieces(RtmpPublisher* p, std::span<const std::span<const uint8_t>> pieces) {
    return p->tls_session ? write_pieces_tls(p, pieces) : write_pieces_socket(p, pieces);
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

RtmpPublisher* rtmp_open(std::string_view url_text, uint32_t timeout_ms, std::span<char> error, Event* stop) {
    RtmpUrl url;
    if (!rtmp_parse_url(url_text, &url)) {
        error_printf(error, "invalid RTMP/RTMPS URL");
        return nullptr;
    }
    RtmpPublisherPtr p(rtmp_publisher_create(timeout_ms));
    if (!p) return nullptr;
    if (connect_and_publish(p.get(), url, stop)) return p.release();
    if (p->error[0] != '\0') {
        error_printf(error, "%s", p->error);
    } else {
        error_printf(error, "RTMP/RTMPS connection failed");
    }
    return nullptr;
}

void rtmp_close(RtmpPublisher* publisher) { delete publisher; }
