// Chunked message writing over the connection's write primitive.
#include "rtmp/rtmp_message_writer.h"

#include <algorithm>

#include "platform/text/byte_order.h"
#include "rtmp/rtmp_connection.h"

namespace {

constexpr size_t PIECES_PER_BATCH = 64;

}  // namespace

size_t rtmp_build_message_header(std::array<uint8_t, 16>& out, uint8_t chunk_stream_id, uint8_t type_id,
                                 uint32_t message_stream_id, uint32_t timestamp_ms, size_t payload_length) {
    if (chunk_stream_id >= RTMP_CHUNK_STREAMS || payload_length > RTMP_MESSAGE_LENGTH_MAX) return 0;
    bool extended = timestamp_ms >= RTMP_EXTENDED_TIMESTAMP;
    out[0] = chunk_stream_id;  // format 0
    store_be(std::span(out).subspan(1, 3), extended ? RTMP_EXTENDED_TIMESTAMP : timestamp_ms);
    store_be(std::span(out).subspan(4, 3), payload_length);
    out[7] = type_id;
    for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>(message_stream_id >> (8 * i));  // little-endian
    if (!extended) return 12;
    store_be(std::span(out).subspan(12, 4), timestamp_ms);
    return 16;
}

namespace {

constexpr size_t MESSAGES_PER_WRITE = 16;

// One message's format-0 header and the header of its further pieces (the
// format-3 byte plus the repeated extended timestamp).
struct MessageHeaders {
    std::array<uint8_t, 16> first{};
    std::array<uint8_t, 5> next{};
    size_t first_size = 0;
    size_t next_size = 0;
};

bool build_headers(MessageHeaders& h, uint8_t chunk_stream_id, uint8_t type_id, uint32_t message_stream_id,
                   uint32_t timestamp_ms, size_t payload_length) {
    h.first_size =
        rtmp_build_message_header(h.first, chunk_stream_id, type_id, message_stream_id, timestamp_ms, payload_length);
    if (h.first_size == 0) return false;
    // The repeated extended timestamp is taken from the value: the header
    // holds it only when it is extended.
    h.next[0] = static_cast<uint8_t>(0xC0 | chunk_stream_id);
    store_be(std::span(h.next).subspan(1, 4), timestamp_ms);
    h.next_size = h.first_size == 16 ? 5 : 1;
    return true;
}

// Pieces pointing into headers and payloads, written together when full or
// flushed.
struct PieceBatch {
    RtmpPublisher* publisher;
    std::array<std::span<const uint8_t>, PIECES_PER_BATCH> pieces{};
    size_t count = 0;

    bool flush() {
        if (count == 0) return true;
        bool ok = rtmp_write_pieces(publisher, std::span(pieces).first(count));
        count = 0;
        return ok;
    }
    bool add(std::span<const uint8_t> piece) {
        if (count == pieces.size() && !flush()) return false;
        pieces[count++] = piece;
        return true;
    }
};

bool add_message(PieceBatch& batch, const MessageHeaders& h, std::span<const uint8_t> payload) {
    const size_t chunk_size = std::max<uint32_t>(batch.publisher->outbound_chunk_size, 1);
    if (!batch.add(std::span(h.first).first(h.first_size))) return false;
    for (size_t offset = 0; offset < payload.size();) {
        if (offset > 0 && !batch.add(std::span(h.next).first(h.next_size))) return false;
        size_t piece = std::min(chunk_size, payload.size() - offset);
        if (!batch.add(payload.subspan(offset, piece))) return false;
        offset += piece;
    }
    return true;
}

}  // namespace

bool rtmp_send_message(RtmpPublisher* p, uint8_t chunk_stream_id, uint8_t type_id, uint32_t message_stream_id,
                       uint32_t timestamp_ms, std::span<const uint8_t> payload) {
    MessageHeaders headers;
    if (!build_headers(headers, chunk_stream_id, type_id, message_stream_id, timestamp_ms, payload.size())) {
        return false;
    }
    PieceBatch pieces{p};
    return add_message(pieces, headers, payload) && pieces.flush();
}

bool rtmp_write_media(RtmpPublisher* p, std::span<const RtmpMediaMessage> messages) {
    // Header storage is reused once every MESSAGES_PER_WRITE messages, after
    // the pieces pointing into it have been written.
    std::array<MessageHeaders, MESSAGES_PER_WRITE> headers;
    PieceBatch pieces{p};
    for (size_t i = 0; i < messages.size(); ++i) {
        const RtmpMediaMessage& m = messages[i];
        MessageHeaders& slot = headers[i % MESSAGES_PER_WRITE];
        uint8_t chunk_stream = m.type_id == RTMP_TYPE_VIDEO ? RTMP_CHUNK_STREAM_VIDEO : RTMP_CHUNK_STREAM_AUDIO;
        bool ok = (i % MESSAGES_PER_WRITE != 0 || pieces.flush()) &&
                  build_headers(slot, chunk_stream, m.type_id, p->stream_id, m.timestamp_ms, m.payload.size()) &&
                  add_message(pieces, slot, m.payload);
        if (!ok) return false;
    }
    return pieces.flush();
}
