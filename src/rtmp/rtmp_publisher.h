// The RTMP/RTMPS publisher: one open connection that the server has accepted
// as a publishing stream, ready to carry FLV audio and video tag bodies.
//
//   rtmp_open:  parse URL -> TCP connect (bounded) -> TLS for rtmps ->
//               handshake -> command exchange (connect ... publish)
//   rtmp_send_media: one message per tag, chunked at 4096 bytes
//   rtmp_close: TLS close-notify and TCP close; no RTMP-level goodbye
//
// A publisher is born connected and published, or not at all. It is owned
// by the thread that opened it; nothing in it is shared. Error texts never
// contain the URL or the stream key.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/network/tls_client.h"
#include "platform/time/event.h"

constexpr size_t RTMP_CHUNK_STREAMS = 64;
constexpr size_t RTMP_ERROR_SIZE = 256;  // 255 characters and the terminator
constexpr uint32_t RTMP_INITIAL_CHUNK_SIZE = 128;
constexpr uint32_t RTMP_OUTBOUND_CHUNK_SIZE = 4096;
constexpr uint8_t RTMP_TYPE_AUDIO = 8;
constexpr uint8_t RTMP_TYPE_VIDEO = 9;
constexpr size_t RTMP_TLS_RECORD_BYTES = 16384;  // the largest TLS record payload

// Reassembly state of one inbound chunk stream. `buffer` grows as payload
// arrives rather than by the advertised length, so a lying header costs no
// memory until the bytes are really sent.
struct RtmpChunkState {
    uint32_t timestamp = 0;
    uint32_t message_length = 0;
    uint32_t received = 0;
    uint32_t message_stream_id = 0;
    uint8_t type_id = 0;
    bool started = false;   // a message header has been seen on this chunk stream
    bool extended = false;  // the last header's 3-byte time field was 0xFFFFFF
    std::vector<uint8_t> buffer;
};

struct SocketHandle {
    int fd = -1;
    SocketHandle() = default;
    ~SocketHandle();
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
};

// Member order is teardown order in reverse: TLS session, then the socket.
struct RtmpPublisher {
    SocketHandle socket;
    TlsSessionPtr tls_session;  // when set, all I/O goes through it
    uint32_t timeout_ms = 0;
    uint32_t outbound_chunk_size = RTMP_INITIAL_CHUNK_SIZE;
    uint32_t inbound_chunk_size = RTMP_INITIAL_CHUNK_SIZE;
    uint32_t stream_id = 0;
    std::array<RtmpChunkState, RTMP_CHUNK_STREAMS> inbound{};
    char error[RTMP_ERROR_SIZE] = {};
    int last_io_error = 0;     // errno of the last failed read/write; 0 for an orderly close
    uint64_t write_steps = 0;  // socket or TLS write calls made, for measurements
    // Chunk headers and payload pieces are gathered here into whole TLS
    // records, so a one-byte continuation header does not cost a record.
    std::array<uint8_t, RTMP_TLS_RECORD_BYTES> tls_staging;
    // Shuts the socket down when the caller's stop event is set, so a stop
    // never waits out a 20-second time-out in a blocked read or write. Last
    // member: it goes before the session and the socket it points at.
    std::optional<EventListener> stop_watch;
};

// Opens and publishes. On failure returns null and writes one message (cut
// to fit) into `error` when it has room; on success writes nothing. Setting
// `stop` (optional) makes any open or send still blocked on the network fail
// at once, for the publisher's whole life.
[[nodiscard]] RtmpPublisher* rtmp_open(std::string_view url, uint32_t timeout_ms, std::span<char> error,
                                       Event* stop = nullptr);

// Closes the connection and frees the publisher; accepts null.
void rtmp_close(RtmpPublisher* publisher);

struct RtmpPublisherClose {
    void operator()(RtmpPublisher* publisher) const { rtmp_close(publisher); }
};
using RtmpPublisherPtr = std::unique_ptr<RtmpPublisher, RtmpPublisherClose>;

// Sends one FLV tag body as an audio (8) or video (9) message on the
// publisher's stream: video on chunk stream 6, anything else on 4. False when
// the publisher is null or a write failed; the connection is then unusable
// and should be closed. `error`, when it has room, gets "RTMP send failed".
[[nodiscard]] bool rtmp_send_media(RtmpPublisher* publisher, uint8_t type_id, uint32_t timestamp_ms,
                                   std::span<const uint8_t> payload, std::span<char> error = {});

struct RtmpMediaMessage {
    uint8_t type_id = 0;
    uint32_t timestamp_ms = 0;
    std::span<const uint8_t> payload;
};

// Several media messages, in order, as rtmp_send_media sends each, gathered
// into as few writes as possible (one for a handful of tags).
[[nodiscard]] bool rtmp_send_media_batch(RtmpPublisher* publisher, std::span<const RtmpMediaMessage> messages,
                                         std::span<char> error = {});
