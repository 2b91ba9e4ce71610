// Hand-made transport-stream packets, PSI sections, PES headers, ADTS frames
// and Annex B units for the media tests and fuzz seeds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

// One 188-byte packet carrying `payload` (at most 184 bytes); a shorter
// payload is padded in front with an adaptation field of stuffing.
inline Bytes ts_packet(uint32_t pid, bool unit_start, const Bytes& payload) {
    Bytes packet = {0x47, static_cast<uint8_t>((unit_start ? 0x40 : 0) | ((pid >> 8) & 0x1F)),
                    static_cast<uint8_t>(pid), 0x10};
    if (payload.size() < 184) {
        packet[3] = 0x30;
        const size_t field = 183 - payload.size();
        packet.push_back(static_cast<uint8_t>(field));
        if (field > 0) packet.push_back(0x00);  // adaptation flags
        while (packet.size() < 188 - payload.size()) packet.push_back(0xFF);
    }
    append(packet, payload);
    packet.resize(188, 0xFF);
    return packet;
}

// pointer_field + section with its 12-bit length and a dummy CRC.
inline Bytes psi_section(uint8_t table_id, const Bytes& after_length) {
    const size_t length = after_length.size() + 4;
    Bytes out = {0x00, table_id, static_cast<uint8_t>(0xB0 | ((length >> 8) & 0x0F)), static_cast<uint8_t>(length)};
    append(out, after_length);
    append(out, {0xDE, 0xAD, 0xBE, 0xEF});
    return out;
}

struct PatEntry {
    uint16_t program;
    uint16_t pid;
};

inline Bytes pat_payload(const std::vector<PatEntry>& entries) {
    Bytes body = {0x00, 0x01, 0xC1, 0x00, 0x00};
    for (const PatEntry& e : entries) {
        append(body, {static_cast<uint8_t>(e.program >> 8), static_cast<uint8_t>(e.program),
                      static_cast<uint8_t>(0xE0 | (e.pid >> 8)), static_cast<uint8_t>(e.pid)});
    }
    return psi_section(0x00, body);
}

struct PmtStream {
    uint8_t type;
    uint16_t pid;
    Bytes descriptors = {};
};

inline Bytes pmt_payload(const std::vector<PmtStream>& streams, const Bytes& program_info = {}) {
    Bytes body = {0x00,
                  0x01,
                  0xC1,
                  0x00,
                  0x00,
                  0xE1,
                  0x00,
                  static_cast<uint8_t>(0xF0 | (program_info.size() >> 8)),
                  static_cast<uint8_t>(program_info.size())};
    append(body, program_info);
    for (const PmtStream& s : streams) {
        append(body,
               {s.type, static_cast<uint8_t>(0xE0 | (s.pid >> 8)), static_cast<uint8_t>(s.pid),
                static_cast<uint8_t>(0xF0 | (s.descriptors.size() >> 8)), static_cast<uint8_t>(s.descriptors.size())});
        append(body, s.descriptors);
    }
    return psi_section(0x02, body);
}

inline Bytes timestamp_field(uint8_t prefix, int64_t t) {
    return {static_cast<uint8_t>((prefix << 4) | (((t >> 30) & 0x07) << 1) | 1), static_cast<uint8_t>(t >> 22),
            static_cast<uint8_t>(((t >> 15) << 1) | 1), static_cast<uint8_t>(t >> 7),
            static_cast<uint8_t>((t << 1) | 1)};
}

// PES header with PTS_DTS_flags `flags` (0, 2 or 3) followed by `body`.
inline Bytes pes(uint8_t flags, int64_t pts, int64_t dts, const Bytes& body, uint8_t stream_id = 0xE0) {
    Bytes fields;
    if (flags & 2) append(fields, timestamp_field(flags == 3 ? 3 : 2, pts));
    if (flags == 3) append(fields, timestamp_field(1, dts));
    Bytes out = {0x00,
                 0x00,
                 0x01,
                 stream_id,
                 0x00,
                 0x00,
                 0x80,
                 static_cast<uint8_t>(flags << 6),
                 static_cast<uint8_t>(fields.size())};
    append(out, fields);
    append(out, body);
    return out;
}

// Splits `payload` over packets of `pid`, the first with unit start.
inline Bytes ts_packets(uint32_t pid, const Bytes& payload) {
    Bytes out;
    size_t at = 0;
    bool first = true;
    do {
        const size_t n = std::min<size_t>(184, payload.size() - at);
        append(out, ts_packet(pid, first, Bytes(payload.begin() + at, payload.begin() + at + n)));
        at += n;
        first = false;
    } while (at < payload.size());
    return out;
}

// One ADTS frame: header (7 bytes, or 9 with a CRC) and `raw_size` bytes.
inline Bytes adts_frame(uint32_t profile, uint32_t frequency_index, uint32_t channels, size_t raw_size,
                        bool with_crc = false, uint8_t fill = 0x21) {
    const size_t header = with_crc ? 9 : 7;
    const size_t length = header + raw_size;
    Bytes out = {0xFF,
                 static_cast<uint8_t>(with_crc ? 0xF0 : 0xF1),
                 static_cast<uint8_t>((profile << 6) | (frequency_index << 2) | (channels >> 2)),
                 static_cast<uint8_t>(((channels & 3) << 6) | ((length >> 11) & 3)),
                 static_cast<uint8_t>(length >> 3),
                 static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
                 0xFC};
    if (with_crc) append(out, {0x12, 0x34});
    out.resize(length, fill);
    return out;
}
