// MPEG-TS demultiplexer: whole 188-byte packets in, whole PES payloads of one
// H.264 stream and one AAC stream out, each with its 90 kHz PTS and DTS.
//
// Model: the first program of the PAT names the PMT; the PMT names the video
// and audio PIDs. Until both tables have passed, every packet is ignored. A
// unit starts at a packet with payload_unit_start whose payload opens with a
// PES header lying whole in that packet, and ends when it has the length its
// PES_packet_length announced, or else (length 0, as for video) at the next
// such packet of its PID or at a flush. Bytes of a PID whose
// unit start was not seen are dropped. Timestamps are passed on exactly as
// read (33-bit values): rebasing and wrap handling belong to the consumer.
//
// Damage: a byte where a sync byte belongs starts a search for the next sync
// byte that has another one 188 bytes on (or the end of the data after it);
// the bytes passed over are counted in `skipped_bytes` and demultiplexing
// goes on from there. A packet cut by the end of one feed is kept and
// completed by the next; the part left at a flush counts as skipped.
//
// Memory: each stream has one assembly buffer, 64 KiB at first and doubled on
// demand, kept across units; parsing is in place with no other allocation.
//
// Threads: none of its own and no locks; one engine thread owns a demuxer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "media/es_unit.h"
#include "media/ts_psi.h"

constexpr size_t TS_PACKET_SIZE = 188;
constexpr uint8_t TS_SYNC_BYTE = 0x47;
// First allocation of an assembly buffer; it doubles from there.
constexpr uint64_t PES_INITIAL_CAPACITY = 65536;
// Largest unit we assemble. Real access units are a few MiB at most; a stream
// that never starts a new unit must not take all memory with it.
constexpr uint64_t PES_MAX_UNIT_SIZE = uint64_t{64} << 20;

struct MallocDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

struct PesAssembly {
    std::unique_ptr<uint8_t, MallocDeleter> data;  // payload so far, PES header removed
    uint64_t size = 0;
    uint64_t capacity = 0;
    int64_t pts = -1;     // 90 kHz, -1 when the header had none
    int64_t dts = -1;     // the PTS when the header had no DTS; -1 when neither
    bool active = false;  // between a good PES header and the end of its unit
    // Payload bytes the PES header announced (0: unbounded, as video usually
    // is). A unit that reaches it is handed on at once rather than when the
    // next unit of its stream begins, so a long audio PES is not held back.
    uint64_t expected = 0;
};

struct TsDemuxer {
    uint32_t pmt_pid = TS_PID_NONE;
    uint32_t video_pid = TS_PID_NONE;
    uint32_t audio_pid = TS_PID_NONE;
    EsUnitCallback callback = nullptr;
    void* callback_context = nullptr;
    PesAssembly video;
    PesAssembly audio;
    uint8_t partial[TS_PACKET_SIZE] = {};  // a packet cut by the end of a feed
    size_t partial_size = 0;
    uint64_t skipped_bytes = 0;  // passed over to find sync again; the caller resets it
};

// A new demuxer with no PIDs known, handing units to `callback` (which may be
// null: units are then discarded). Null when memory is short.
[[nodiscard]] TsDemuxer* ts_demuxer_create(EsUnitCallback callback, void* context);

// Parses packets, resynchronising after damage (see above). Returns 1 on
// success, 0 on failure. Writes a message into `error` only when the length
// is not a multiple of 188 ("MPEG-TS data is not 188-byte aligned"). Other failures (a callback returned 0, a PES
// header longer than its packet, a unit too large for memory) leave `error`
// untouched for the caller's own text.
[[nodiscard]] int ts_demuxer_feed(TsDemuxer* demuxer, std::span<const uint8_t> data, std::span<char> error);

// Hands out the video unit, then the audio unit, still being assembled, and
// empties both (buffers stay allocated); a partial packet is dropped. Returns 1 when every callback made
// succeeded; 0 when one failed (the audio unit is then left as it was) or for
// a null demuxer.
[[nodiscard]] int ts_demuxer_flush(TsDemuxer* demuxer);

// Frees the demuxer and its buffers; null does nothing.
void ts_demuxer_destroy(TsDemuxer* demuxer);

struct TsDemuxerDeleter {
    void operator()(TsDemuxer* demuxer) const { ts_demuxer_destroy(demuxer); }
};
using TsDemuxerPtr = std::unique_ptr<TsDemuxer, TsDemuxerDeleter>;
