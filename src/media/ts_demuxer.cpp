// Packet walk, PES assembly and unit hand-off of the demultiplexer.
//
// Per packet: sync byte, adaptation_field_control, PID, payload start. PID 0
// with a unit start carries the PAT, pmt_pid with a unit start the PMT; the
// video and audio PIDs feed their assemblies. Continuity counters, scrambling
// and transport errors are not looked at.
//
// PES header, first packet of a unit (must lie whole in it):
//   00 00 01 | stream_id | length(16) | flags | PTS_DTS_flags.. | header_data_length
//   | PTS (5 bytes, when flags >= 2) | DTS (5 bytes, when flags == 3) | ...
#include "media/ts_demuxer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/text/error_text.h"

namespace {

constexpr size_t PES_FIXED_HEADER = 9;

// 33-bit timestamp from its 5-byte field; marker bits are ignored.
int64_t read_timestamp(std::span<const uint8_t, 5> b) {
    return (static_cast<int64_t>((b[0] >> 1) & 0x07) << 30) | (static_cast<int64_t>(b[1]) << 22) |
           (static_cast<int64_t>(b[2] >> 1) << 15) | (static_cast<int64_t>(b[3]) << 7) | (b[4] >> 1);
}

// Hands the assembled unit to the callback (when it holds bytes) and empties
// the assembly whatever the callback says. False when the callback failed.
bool deliver(TsDemuxer& demuxer, PesAssembly& assembly, uint32_t kind) {
    int ok = 1;
    if (assembly.active && assembly.size > 0 && demuxer.callback) {
        ok = demuxer.callback(demuxer.callback_context, kind,
                              std::span<const uint8_t>(assembly.data.get(), assembly.size), assembly.pts, assembly.dts);
    }
    assembly.size = 0;
    assembly.active = false;
    return ok != 0;
}

// Makes room for `count` more bytes. On failure the buffer is as it was.
bool reserve(PesAssembly& assembly, uint64_t count) {
    if (count > UINT64_MAX - assembly.size) return false;
    const uint64_t needed = assembly.size + count;
    if (needed <= assembly.capacity) return true;
    if (needed > PES_MAX_UNIT_SIZE) return false;
    uint64_t capacity = assembly.capacity ? assembly.capacity : PES_INITIAL_CAPACITY;
    while (capacity < needed) capacity *= 2;  // bounded by PES_MAX_UNIT_SIZE * 2
    void* grown = std::realloc(assembly.data.get(), capacity);
    if (!grown) return false;
    (void)assembly.data.release();
    assembly.data.reset(static_cast<uint8_t*>(grown));
    assembly.capacity = capacity;
    return true;
}

// Opens a unit from the first payload of a PES packet. Sets `body` to the
// bytes after the PES header. False when the header runs past the payload.
bool open_unit(PesAssembly& assembly, std::span<const uint8_t> payload, std::span<const uint8_t>& body) {
    if (payload.size() < PES_FIXED_HEADER || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) {
        body = {};
        return true;  // not a PES start: drop bytes up to the next unit start
    }
    const size_t header_data_length = payload[8];
    const size_t header_end = PES_FIXED_HEADER + header_data_length;
    if (header_end > payload.size()) return false;
    const unsigned flags = payload[7] >> 6;
    int64_t pts = -1;
    int64_t dts = -1;
    if ((flags & 2) && header_data_length >= 5) pts = read_timestamp(payload.subspan<9, 5>());
    if (flags == 3 && header_data_length >= 10) dts = read_timestamp(payload.subspan<14, 5>());
    assembly.pts = pts;
    assembly.dts = dts >= 0 ? dts : pts;
    assembly.active = true;
    // PES_packet_length counts the three flag/length bytes and the header data too.
    const size_t packet_length = (static_cast<size_t>(payload[4]) << 8) | payload[5];
    assembly.expected = packet_length > 3 + header_data_length ? packet_length - 3 - header_data_length : 0;
    body = payload.subspan(header_end);
    return true;
}

bool append(TsDemuxer& demuxer, PesAssembly& assembly, uint32_t kind, std::span<const uint8_t> payload,
            bool unit_start) {
    if (unit_start) {
        if (!deliver(demuxer, assembly, kind)) return false;
        if (!open_unit(assembly, payload, payload)) return false;
    }
    if (!assembly.active || payload.empty()) return true;
    if (assembly.expected != 0)
        payload = payload.first(std::min<uint64_t>(payload.size(), assembly.expected - assembly.size));
    if (!reserve(assembly, payload.size())) return false;
    std::memcpy(assembly.data.get() + assembly.size, payload.data(), payload.size());
    assembly.size += payload.size();
    if (assembly.expected != 0 && assembly.size == assembly.expected) return deliver(demuxer, assembly, kind);
    return true;
}

// One packet whose sync byte has been checked. False only for failures that
// end the feed.
bool demux_packet(TsDemuxer& demuxer, std::span<const uint8_t, TS_PACKET_SIZE> packet) {
    const unsigned adaptation_field_control = packet[3] & 0x30;
    if (adaptation_field_control == 0x00 || adaptation_field_control == 0x20) return true;
    const uint32_t pid = (static_cast<uint32_t>(packet[1] & 0x1F) << 8) | packet[2];
    const bool unit_start = (packet[1] & 0x40) != 0;
    size_t start = 4;
    if (adaptation_field_control == 0x30) start = 5 + static_cast<size_t>(packet[4]);
    if (start > TS_PACKET_SIZE) return true;  // adaptation field longer than the packet
    const std::span<const uint8_t> payload = std::span<const uint8_t>(packet).subspan(start);

    if (pid == 0 && unit_start) {
        (void)ts_parse_pat(payload, demuxer.pmt_pid);
    } else if (pid == demuxer.pmt_pid && unit_start) {
        (void)ts_parse_pmt(payload, demuxer.video_pid, demuxer.audio_pid);
    } else if (pid == demuxer.video_pid) {
        return append(demuxer, demuxer.video, ES_VIDEO, payload, unit_start);
    } else if (pid == demuxer.audio_pid) {
        return append(demuxer, demuxer.audio, ES_AUDIO, payload, unit_start);
    }
    return true;
}

// The next sync byte at or after `from` that has another one a packet on, or
// the end of the data after it; data.size() when there is none.
size_t next_sync(std::span<const uint8_t> data, size_t from) {
    for (size_t at = from; at < data.size(); ++at) {
        if (data[at] != TS_SYNC_BYTE) continue;
        if (at + TS_PACKET_SIZE >= data.size() || data[at + TS_PACKET_SIZE] == TS_SYNC_BYTE) return at;
    }
    return data.size();
}

}  // namespace

TsDemuxer* ts_demuxer_create(EsUnitCallback callback, void* context) {
    TsDemuxer* demuxer = new (std::nothrow) TsDemuxer{};
    if (!demuxer) return nullptr;
    demuxer->callback = callback;
    demuxer->callback_context = context;
    return demuxer;
}

int ts_demuxer_feed(TsDemuxer* demuxer, std::span<const uint8_t> data, std::span<char> error) {
    if (!demuxer || data.size() % TS_PACKET_SIZE != 0) {
        error_printf(error, "MPEG-TS data is not 188-byte aligned");
        return 0;
    }
    size_t at = 0;
    if (demuxer->partial_size > 0) {
        at = std::min(TS_PACKET_SIZE - demuxer->partial_size, data.size());
        std::memcpy(demuxer->partial + demuxer->partial_size, data.data(), at);
        demuxer->partial_size += at;
        if (demuxer->partial_size < TS_PACKET_SIZE) return 1;
        demuxer->partial_size = 0;
        if (!demux_packet(*demuxer, std::span<const uint8_t, TS_PACKET_SIZE>(demuxer->partial, TS_PACKET_SIZE))) {
            return 0;
        }
    }
    while (at < data.size()) {
        if (data[at] != TS_SYNC_BYTE) {
            const size_t next = next_sync(data, at + 1);
            demuxer->skipped_bytes += next - at;
            at = next;
            continue;
        }
        if (data.size() - at < TS_PACKET_SIZE) {
            demuxer->partial_size = data.size() - at;
            std::memcpy(demuxer->partial, data.data() + at, demuxer->partial_size);
            return 1;
        }
        if (!demux_packet(*demuxer, data.subspan(at).first<TS_PACKET_SIZE>())) return 0;
        at += TS_PACKET_SIZE;
    }
    return 1;
}

int ts_demuxer_flush(TsDemuxer* demuxer) {
    if (!demuxer) return 0;
    demuxer->skipped_bytes += demuxer->partial_size;
    demuxer->partial_size = 0;
    if (!deliver(*demuxer, demuxer->video, ES_VIDEO)) return 0;
    return deliver(*demuxer, demuxer->audio, ES_AUDIO) ? 1 : 0;
}

void ts_demuxer_destroy(TsDemuxer* demuxer) {
    delete demuxer;
}
