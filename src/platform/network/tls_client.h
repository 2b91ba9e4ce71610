// The one TLS client the HTTPS downloader and the RTMPS publisher share.
//
// A process-wide client context (TLS 1.2 at least, peer verification, the
// system's root certificates) is created on first use under one lock, so
// threads that start together still load the trust store once. Its lifetime
// is a reference count: the process-wide pointer holds one reference and
// every session takes its own, so tls_client_shutdown never pulls a context
// out from under a session in flight; the next session after it builds a
// new context and reloads the store (which is how tests trust their own CA).
//
// A session runs over a connected socket from socket_connect. Server name
// indication carries host names only, never address literals; the
// certificate must match the host either way. A stop reaches the handshake
// and every read or write the same way as for a plain socket: shutting the
// socket down makes the blocked call fail at once.
//
// Two builds: OpenSSL on Linux, the system's TLS (Schannel) on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

struct TlsSession;

enum class TlsOpenResult {
    ok,
    context_failed,    // no client context could be made
    session_failed,    // the context could not make a session for this socket
    handshake_failed,  // the handshake ended without a verdict on the certificate
    verify_failed,     // the peer's certificate was refused
};

// The trust-store loads so far (they only grow): certificates seen,
// decoded, and accepted as roots.
struct TlsCounters {
    int roots = 0, parsed = 0, seen = 0;
};

// Room for the verification text, its counters included.
constexpr size_t TLS_VERIFY_TEXT_SIZE = 192;

// Why a handshake was refused: the verification result (0 when the
// certificate was not the reason) and the one text that describes it,
// "%ld %s (roots=%d parsed=%d seen=%d)": the result, its meaning and the
// trust-store counters, which make "no roots were found" tell-tale.
struct TlsVerdict {
    long result = 0;
    char text[TLS_VERIFY_TEXT_SIZE] = {};
};

// Handshakes over `socket` for `host`. On ok `*session` holds the session
// (free it with tls_close). On handshake_failed or verify_failed `verdict`
// says why.
[[nodiscard]] TlsOpenResult tls_open(int socket, const std::string& host, TlsSession** session, TlsVerdict* verdict);

// One write step: bytes written (> 0), or <= 0 with tls_io_error set.
[[nodiscard]] long tls_write(TlsSession* session, const void* data, size_t size);
// One read step: bytes read (> 0), 0 on the peer's close, < 0 on an error or time-out.
[[nodiscard]] long tls_read(TlsSession* session, void* data, size_t size);
// Why the last read or write ended: 0 for close-notify or a plain end of
// stream, the socket's error number for a system failure, EPROTO for a
// broken TLS stream.
[[nodiscard]] int tls_io_error(const TlsSession* session);

// Sends close-notify after a completed handshake, then frees; accepts null.
void tls_close(TlsSession* session);

struct TlsSessionClose {
    void operator()(TlsSession* session) const { tls_close(session); }
};
using TlsSessionPtr = std::unique_ptr<TlsSession, TlsSessionClose>;

// Drops the process-wide context reference; safe at any time.
void tls_client_shutdown();
[[nodiscard]] TlsCounters tls_client_counters();
