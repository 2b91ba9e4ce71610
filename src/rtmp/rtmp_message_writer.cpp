// Chunked message writing over the connection's write primitive.
#include "rtmp/rtmp_message_writer.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "platform/error_text.h"
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

bool rtmp_send_message(RtmpPublisher* p, uint8_t chunk_stream_id, uint8_t type_id, uint32_t message_stream_id,
                       uint32_t timestamp_ms, std::span<const uint8_t> payload) {
    std::array<uint8_t, 16> header{};  // bytes 12-15 are copied even when unused
    size_t header_size =
        rtmp_build_message_header(header, chunk_stream_id, type_id, message_stream_id, timestamp_ms, payload.size());
    if (header_size == 0) return false;
    // A continuation header is the format-3 byte plus the repeated extended
    // timestamp (taken from the value: the header holds it only when extended).
    std::array<uint8_t, 5> continuation{static_cast<uint8_t>(0xC0 | chunk_stream_id)};
    store_be(std::span(continuation).subspan(1, 4), timestamp_ms);
    std::span<const uint8_t> next_header(continuation.data(), header_size == 16 ? 5 : 1);
    size_t chunk_size = std::max<uint32_t>(p->outbound_chunk_size, 1);
    // Pieces point into the caller's payload; they go out in batches.
    std::array<std::span<const uint8_t>, PIECES_PER_BATCH> batch;
    size_t count = 0;
    batch[count++] = std::span<const uint8_t>(header).first(header_size);
    for (size_t offset = 0; offset < payload.size();) {
        if (count + 2 > batch.size()) {
            if (!rtmp_write_pieces(p, std::span(batch).first(count))) return false;
            count = 0;
        }
        if (offset > 0) batch[count++] = next_header;
        size_t piece = std::min(chunk_size, payload.size() - offset);
        batch[count++] = payload.subspan(offset, piece);
        offset += piece;
    }
    return rtmp_write_pieces(p, std::span(batch).first(count));
}

bool rtmp_send_media(RtmpPublisher* p, uint8_t type_id, uint32_t timestamp_ms, std::span<const uint8_t> payload,
                     std::span<char> error) {
    uint8_t chunk_stream = type_id == RTMP_TYPE_VIDEO ? RTMP_CHUNK_STREAM_VIDEO : RTMP_CHUNK_STREAM_AUDIO;
    if (p && rtmp_send_message(p, chunk_stream, type_id, p->stream_id, timestamp_ms, payload)) return true;
    error_printf(error, "RTMP send failed");
    return false;
}
