// Chunk reassembly. The extended-timestamp field is expected wherever the
// sender put 0xFFFFFF in the 3-byte time field of the chunk stream's last
// full header (formats 0-2), and after every format-3 header that follows
// it; its value replaces the 3-byte one. Keying it to the header rather than
// to the accumulated time keeps us in step with a server whose deltas add up
// past 0xFFFFFF.
#include "rtmp/rtmp_chunk_reader.h"

#include <algorithm>
#include <array>
#include <new>

#include "platform/text/byte_order.h"
#include "rtmp/rtmp_connection.h"

namespace {

constexpr size_t HEADER_SIZES[4] = {11, 7, 3, 0};
constexpr uint32_t TIME_FIELD_EXTENDED = 0xFFFFFF;

bool read_byte(RtmpPublisher* p, uint8_t* out) {
    return rtmp_read_exact(p, {out, 1});
}

// Basic header: format in the top two bits, then a 1-, 2- or 3-byte id.
bool read_basic_header(RtmpPublisher* p, unsigned* format, unsigned* chunk_stream_id) {
    uint8_t first = 0;
    if (!read_byte(p, &first)) return false;
    *format = first >> 6;
    *chunk_stream_id = first & 0x3F;
    uint8_t more[2] = {0, 0};
    if (*chunk_stream_id == 0) {
        if (!rtmp_read_exact(p, {more, 1})) return false;
        *chunk_stream_id = 64 + more[0];
    } else if (*chunk_stream_id == 1) {
        if (!rtmp_read_exact(p, more)) return false;
        *chunk_stream_id = 64 + more[0] + 256u * more[1];
    }
    if (*chunk_stream_id >= RTMP_CHUNK_STREAMS) {
        p->last_io_error = 0;
        return false;
    }
    return true;
}

void start_message(RtmpChunkState& s) {
    s.buffer.clear();
    s.received = 0;
    s.started = true;
}

// Applies the message header of `format` to the chunk stream's state.
bool read_message_header(RtmpPublisher* p, unsigned format, RtmpChunkState& s) {
    std::array<uint8_t, 11> h{};
    if (!rtmp_read_exact(p, std::span<uint8_t>(h).first(HEADER_SIZES[format]))) return false;
    const std::span<const uint8_t> header(h);
    uint32_t time = format < 3 ? static_cast<uint32_t>(load_be(header.first(3))) : 0;
    if (format < 3) s.extended = time == TIME_FIELD_EXTENDED;
    if (s.extended) {
        uint8_t ext[4];
        if (!rtmp_read_exact(p, ext)) return false;
        if (format < 3) time = static_cast<uint32_t>(load_be(ext));
    }
    switch (format) {
        case 0:
            s.timestamp = time;
            s.message_length = static_cast<uint32_t>(load_be(header.subspan(3, 3)));
            s.type_id = h[6];
            s.message_stream_id = load_le32(header.subspan<7, 4>());
            start_message(s);
            break;
        case 1:
            s.timestamp += time;
            s.message_length = static_cast<uint32_t>(load_be(header.subspan(3, 3)));
            s.type_id = h[6];
            start_message(s);
            break;
        case 2:
            s.timestamp += time;
            start_message(s);
            break;
        default:
            // A format-3 chunk after a complete message repeats it with the same header.
            if (!s.started || s.received >= s.message_length) start_message(s);
            break;
    }
    return true;
}

// Appends the next payload piece; the buffer grows only by what arrives.
bool read_payload_piece(RtmpPublisher* p, RtmpChunkState& s) {
    size_t piece = std::min<size_t>(s.message_length - s.received, p->inbound_chunk_size);
    if (piece == 0) return true;
    size_t offset = s.buffer.size();
    uint8_t* target = nullptr;
    try {
        s.buffer.resize(offset + piece);
        target = s.buffer.data() + offset;
    } catch (const std::bad_alloc&) {
        p->last_io_error = 0;
        return false;
    }
    if (!rtmp_read_exact(p, {target, piece})) return false;
    s.received += static_cast<uint32_t>(piece);
    return true;
}

}  // namespace

bool rtmp_read_message(RtmpPublisher* p, RtmpMessage* out) {
    for (;;) {
        unsigned format = 0, chunk_stream_id = 0;
        if (!read_basic_header(p, &format, &chunk_stream_id)) return false;
        RtmpChunkState& s = p->inbound[chunk_stream_id];
        if (!read_message_header(p, format, s) || !read_payload_piece(p, s)) return false;
        if (s.received >= s.message_length) {
            out->type_id = s.type_id;
            out->message_stream_id = s.message_stream_id;
            out->timestamp = s.timestamp;
            out->payload = std::span<const uint8_t>(s.buffer.data(), s.received);
            return true;
        }
    }
}
