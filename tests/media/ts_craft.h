// Hand-made transport-stream packets, PSI sections, PES headers, ADTS frames
// and Annex B units for the media tests, and a recorder of what a demuxer,
// a sample source or the packetizer hands on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "media/annexb.h"
#include "media/flv_packetizer.h"

using Bytes = std::vector<uint8_t>;

struct Unit {
    uint32_t kind;
    Bytes data;
    int64_t pts, dts;
    bool operator==(const Unit&) const = default;
};

struct Tag {
    uint8_t type;
    int64_t ms;
    Bytes body;
    bool operator==(const Tag&) const = default;
};

struct Recorder {
    std::vector<Unit> units;
    std::vector<Tag> tags;
    int answer = 1;  // what the callbacks return
};

inline int record_unit(void* context, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->units.push_back({kind, Bytes(data.begin(), data.end()), pts, dts});
    return recorder->answer;
}

// The NAL units the scanner finds in `data`.
inline std::vector<Bytes> nal_units(const Bytes& data) {
    std::vector<Bytes> nals;
    AnnexbScanner scanner = annexb_scanner(data);
    for (std::span<const uint8_t> nal; annexb_next_nal(scanner, nal);) nals.emplace_back(nal.begin(), nal.end());
    return nals;
}

inline int record_tag(void* context, const FlvTag& tag) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->tags.push_back({tag.type, tag.timestamp_ms, Bytes(tag.body.begin(), tag.body.end())});
    return recorder->answer;
}

inline void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

inline uint8_t u8(uint64_t v) {
    return static_cast<uint8_t>(v);
}

// `bytes` with the byte at `at` replaced: a field damaged on purpose.
inline Bytes with(Bytes bytes, size_t at, uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

// One 188-byte packet carrying `payload` (at most 184 bytes); a shorter
// payload is padded in front with an adaptation field of stuffing.
inline Bytes ts_packet(uint32_t pid, bool unit_start, const Bytes& payload) {
    Bytes packet = {0x47, u8((unit_start ? 0x40 : 0) | ((pid >> 8) & 0x1F)), u8(pid), 0x10};
    if (payload.size() < 184) {
        packet[3] = 0x30;
        const size_t field = 183 - payload.size();
        packet.push_back(u8(field));
        if (field > 0) packet.push_back(0x00);  // adaptation flags
        packet.resize(188 - payload.size(), 0xFF);
    }
    append(packet, payload);
    packet.resize(188, 0xFF);
    return packet;
}

// pointer_field + section with its 12-bit length and a dummy CRC.
inline Bytes psi_section(uint8_t table_id, const Bytes& after_length) {
    const size_t length = after_length.size() + 4;
    Bytes out = {0x00, table_id, u8(0xB0 | ((length >> 8) & 0x0F)), u8(length)};
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
    for (const PatEntry& e : entries)
        append(body, {u8(e.program >> 8), u8(e.program), u8(0xE0 | (e.pid >> 8)), u8(e.pid)});
    return psi_section(0x00, body);
}

struct PmtStream {
    uint8_t type;
    uint16_t pid;
    Bytes descriptors = {};
};

inline Bytes pmt_payload(const std::vector<PmtStream>& streams, const Bytes& program_info = {}) {
    Bytes body = {
        0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00, u8(0xF0 | (program_info.size() >> 8)), u8(program_info.size())};
    append(body, program_info);
    for (const PmtStream& s : streams) {
        const size_t n = s.descriptors.size();
        append(body, {s.type, u8(0xE0 | (s.pid >> 8)), u8(s.pid), u8(0xF0 | (n >> 8)), u8(n)});
        append(body, s.descriptors);
    }
    return psi_section(0x02, body);
}

inline Bytes timestamp_field(uint8_t prefix, int64_t t) {
    return {u8((prefix << 4) | (((t >> 30) & 0x07) << 1) | 1), u8(t >> 22), u8(((t >> 15) << 1) | 1), u8(t >> 7),
            u8((t << 1) | 1)};
}

// PES header with PTS_DTS_flags `flags` (0, 2 or 3) followed by `body`.
inline Bytes pes(uint8_t flags, int64_t pts, int64_t dts, const Bytes& body, uint8_t stream_id = 0xE0) {
    Bytes fields;
    if (flags & 2) append(fields, timestamp_field(flags == 3 ? 3 : 2, pts));
    if (flags == 3) append(fields, timestamp_field(1, dts));
    Bytes out = {0x00, 0x00, 0x01, stream_id, 0x00, 0x00, 0x80, u8(flags << 6), u8(fields.size())};
    append(out, fields);
    append(out, body);
    return out;
}

// Splits `payload` over packets of `pid`, the first with unit start.
inline Bytes ts_packets(uint32_t pid, const Bytes& payload) {
    Bytes out;
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(184, payload.size() - at);
        append(out, ts_packet(pid, at == 0, Bytes(payload.begin() + long(at), payload.begin() + long(at + n))));
        at += n;
    } while (at < payload.size());
    return out;
}

// One ADTS frame: header (7 bytes, or 9 with a CRC) and `raw_size` bytes.
inline Bytes adts_frame(uint32_t profile, uint32_t frequency_index, uint32_t channels, size_t raw_size,
                        bool with_crc = false) {
    const size_t length = (with_crc ? 9 : 7) + raw_size;
    Bytes out = {0xFF, u8(with_crc ? 0xF0 : 0xF1), u8((profile << 6) | (frequency_index << 2) | (channels >> 2))};
    append(out,
           {u8(((channels & 3) << 6) | ((length >> 11) & 3)), u8(length >> 3), u8(((length & 7) << 5) | 0x1F), 0xFC});
    if (with_crc) append(out, {0x12, 0x34});
    out.resize(length, 0x21);
    return out;
}
