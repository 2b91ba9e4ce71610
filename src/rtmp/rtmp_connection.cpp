// The transport under the publisher: TCP (connect bounded by the time-out,
// sends and receives too), then for rtmps the shared TLS client (TLS 1.2+,
// system roots, SNI and host-name check, handshake, verify result), and the
// two I/O primitives every byte goes through. Each failing step leaves its
// own text, which never names the URL or the key.
#include "rtmp/rtmp_connection.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <new>

#include "platform/network/socket_connect.h"
#include "platform/network/tls_client.h"
#include "platform/text/error_text.h"
#include "rtmp/rtmp_url.h"

namespace {

constexpr size_t IO_STEP_MAX = INT_MAX;
constexpr size_t GATHER_MAX = 64;  // pieces offered to one gathered send
// Written but unsent bytes a connection may hold: a fraction of a second at
// ingest bitrates, so a stalled server shows within seconds.
constexpr uint32_t RTMP_UNSENT_LIMIT = 128 * 1024;

long write_step(RtmpPublisher* p, const uint8_t* data, size_t size) {
    ++p->write_steps;
    if (TlsSession* session = p->tls_session.get()) {
        long sent = tls_write(session, data, size);
        if (sent <= 0) p->last_io_error = tls_io_error(session);
        return sent;
    }
    long sent = socket_send(p->socket.fd, data, size);
    if (sent <= 0) p->last_io_error = sent == 0 ? 0 : socket_last_error();
    return sent;
}

long read_step(RtmpPublisher* p, uint8_t* data, size_t size) {
    if (TlsSession* session = p->tls_session.get()) {
        long got = tls_read(session, data, size);
        if (got <= 0) p->last_io_error = tls_io_error(session);
        return got;
    }
    long got = socket_recv(p->socket.fd, data, size);
    if (got <= 0) p->last_io_error = got == 0 ? 0 : socket_last_error();
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
        std::span<const uint8_t> window[GATHER_MAX];
        size_t count = 0;
        for (size_t i = cursor.index; i < pieces.size() && count < GATHER_MAX; ++i) {
            window[count++] = pieces[i].subspan(i == cursor.index ? cursor.offset : 0);
        }
        ++p->write_steps;
        long sent = socket_send_pieces(p->socket.fd, std::span(window, count));
        if (sent <= 0) {
            p->last_io_error = sent == 0 ? 0 : socket_last_error();
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
    TlsVerdict verdict;
    TlsSession* session = nullptr;
    TlsOpenResult result = tls_open(p->socket.fd, url.host, &session, &verdict);
    p->tls_session.reset(session);
    switch (result) {
        case TlsOpenResult::ok:
            return true;
        case TlsOpenResult::context_failed:
            rtmp_set_error(p, "RTMPS TLS context failed");
            break;
        case TlsOpenResult::session_failed:
            rtmp_set_error(p, "RTMPS TLS session failed");
            break;
        case TlsOpenResult::handshake_failed:
            rtmp_set_error(p, "RTMPS TLS handshake failed");
            break;
        case TlsOpenResult::verify_failed:
            rtmp_set_error(p, "RTMPS certificate verification failed: %ld", verdict.result);
            break;
    }
    return false;
}

}  // namespace

SocketHandle::~SocketHandle() {
    socket_close(fd);
}

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

bool rtmp_connect(RtmpPublisher* p, const RtmpUrl& url, Event* stop) {
    p->socket.fd = socket_connect(url.host, url.port, p->timeout_ms, stop);
    if (p->socket.fd < 0) return false;
    // A server that stops reading must block the writer soon: the output's
    // queue bound (a few seconds of media) then tells the stall.
    (void)socket_limit_unsent(p->socket.fd, RTMP_UNSENT_LIMIT);
    p->stop_watch.emplace(stop, socket_shutdown_listener, &p->socket.fd);
    return !url.tls || start_tls(p, url);
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
