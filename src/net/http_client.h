// A small blocking HTTP/1.1 GET client over TCP, with TLS 1.2+ for https.
//
// One request = one fresh connection with "Connection: close": connect,
// (TLS handshake with peer and host-name verification), send the request,
// receive the whole response into memory, then read the header and de-frame
// the body (Content-Length, chunked, or up to the close). Redirects are
// followed, a relative Location against the URL that was asked for; six
// requests at most.
//
// Thread safety: any number of threads may call http_get at once. They share
// only the process-wide TLS client context and its certificate counters (see
// http_client.cpp). A request can be cut short from another thread through an
// HttpCancel at every step: a name lookup or a pending connect sees it
// within 100 ms, and the TLS handshake, the send and the receive at once
// (the socket is shut down under them). That is how a stopped workflow or a
// downloader that is being torn down gets out of a 180-second segment read.
//
// What one request may cost is bounded whatever the peer does: its time-out
// covers the whole request (connect, handshake, send and every receive,
// redirects included), so a peer that trickles a byte now and then cannot
// keep it alive; the header block may hold 64 KiB; the body what the caller
// allows (HttpResponseLimit). Past a bound receiving stops and the request
// fails with a message naming the bound.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "net/byte_buffer.h"
#include "platform/time/event.h"

constexpr int HTTP_MAX_REQUESTS = 6;         // one request and five redirects
constexpr size_t HTTP_RECEIVE_STEP = 16384;  // bytes asked for per receive
constexpr size_t HTTP_LOCATION_SIZE = 8192;  // Location field and working URL
// The most a caller may let a body take (as received, chunk framing
// included), and the most a header block may take: no real server comes near
// either.
constexpr size_t HTTP_MAX_RESPONSE_BYTES = size_t{512} << 20;
constexpr size_t HTTP_MAX_HEADER_BYTES = size_t{64} << 10;

// What the caller expects: a name for it in the messages of the bounds
// ("HLS playlist too large (over 4 MiB)", "HLS playlist timed out after
// 10 s") and the largest body it takes, in whole MiB.
struct HttpResponseLimit {
    const char* what = "HTTP response";
    size_t max_body = HTTP_MAX_RESPONSE_BYTES;
};

// A cancellation point shared between the threads that issue requests and
// one that may abort them. Once cancelled it stays cancelled: requests in
// flight end promptly and later ones fail at once. The event is set by the
// cancel; every connection in use listens to it.
struct HttpCancel {
    Event cancelled;
};

// Cancels every request using `cancel`, now and later. Accepts nullptr.
void http_cancel(HttpCancel* cancel);

// GET `url`, following redirects. True only when the final status is 200-299
// and its body was framed correctly; `body` then holds the entity. At entry
// `body` is freed, `status` set to 0 and `error` cleared. On false `body` is
// empty or holds the last response's body and `error` holds the reason, or
// stays empty when the only fault is a status outside 200-299. `final_url`,
// when given, gets the URL of the last request: the base for references in
// the body. `timeout_ms` bounds the whole call (0: no bound).
[[nodiscard]] bool http_get(std::string_view url, uint32_t timeout_ms, ByteBuffer* body, uint32_t* status,
                            std::span<char> error, HttpCancel* cancel = nullptr, std::string* final_url = nullptr,
                            HttpResponseLimit limit = {});

// One request, no redirects, within `timeout_ms` as a whole. True when a
// complete, correctly framed response arrived, whatever its status; the body
// is appended to `body`, `status` set, and `location` gets the Location field
// (empty when none came).
[[nodiscard]] bool http_get_once(std::string_view url, uint32_t timeout_ms, ByteBuffer* body, uint32_t* status,
                                 std::span<char> location, std::span<char> error, HttpCancel* cancel = nullptr,
                                 HttpResponseLimit limit = {});

// Releases the process-wide TLS client context. Safe at any time, also while
// other threads are in the middle of requests: each TLS session holds its own
// reference, so the context is really freed only when the last one ends. The
// next https request creates (and loads the trust store into) a new one.
void http_client_shutdown();

// The trust-store counters of every load so far (they only grow).
struct HttpTlsCounters {
    int roots = 0, parsed = 0, seen = 0;
};
[[nodiscard]] HttpTlsCounters http_tls_counters();
