// FLV bodies built here:
//
//   AAC header  AF 00 | AudioSpecificConfig (2 bytes: object type 5, frequency 4, channels 4, 000)
//   AAC frame   AF 01 | raw frame (ADTS header and CRC removed)
//   AVC header  17 00 000000 | 01 profile compat level FF E1 spsLen(16) sps 01 ppsLen(16) pps
//   AVC frame   17|27 01 cts(24, ms, signed) | { NAL length(32) NAL bytes }...
//
// An AAC frame is at most 8191 bytes, so its body is built on the stack. A
// video body is allocated once at its exact size after a first pass has sized
// it (and stored any SPS/PPS, and remembered where the NAL units lie); a
// second pass copies the NAL units in.
#include "media/flv_packetizer.h"

#include <array>
#include <climits>
#include <cstring>
#include <new>

#include "media/adts.h"
#include "media/annexb.h"
#include "platform/text/byte_order.h"

namespace {

constexpr int64_t CLOCK_WRAP = int64_t{1} << 33;  // the transport stream's 33-bit clock
constexpr int64_t HALF_WRAP = int64_t{1} << 32;
constexpr int64_t TICKS_PER_MS = 90;
constexpr uint8_t AAC_SOUND_FORMAT = 0xAF;  // AAC, 44 kHz, 16-bit, stereo: fixed for AAC
constexpr uint8_t AVC_KEY_FRAME = 0x17;
constexpr uint8_t AVC_INTER_FRAME = 0x27;
constexpr size_t AAC_MAX_FRAME_BODY = 2 + 8191;  // 13-bit ADTS frame_length
constexpr size_t AVC_HEADER_FIXED_SIZE = 16;
constexpr size_t AVC_FRAME_PREFIX_SIZE = 5;

bool send(FlvPacketizer& packetizer, uint8_t type, int64_t timestamp_ms, std::span<const uint8_t> body) {
    if (!packetizer.callback) return true;
    FlvTag tag;
    tag.type = type;
    tag.timestamp_ms = timestamp_ms;
    tag.body = body;
    return packetizer.callback(packetizer.callback_context, tag) != 0;
}

int64_t distance(int64_t a, int64_t b) {
    return a > b ? a - b : b - a;
}

// Maps a 33-bit clock value onto a rising line. A value that lands near the
// last one only once 2^33 is added is a wrap forward; one that lands near it
// only once 2^33 is taken away is a late unit from before a wrap. Every
// other step, however large, is the source's own jump and stays one.
// Larger values come from callers with their own 64-bit clock and are taken
// as they are.
int64_t unwrap(FlvPacketizer& packetizer, int64_t t) {
    if (t >= CLOCK_WRAP) {
        packetizer.last_time = t;
        return t;
    }
    int64_t u = t + packetizer.clock_epoch;
    const int64_t last = packetizer.last_time;
    if (last >= 0 && distance(u, last) > PACKETIZER_WRAP_WINDOW) {
        if (distance(u + CLOCK_WRAP, last) <= PACKETIZER_WRAP_WINDOW && packetizer.clock_epoch < (INT64_MAX >> 1)) {
            packetizer.clock_epoch += CLOCK_WRAP;
            u += CLOCK_WRAP;
        } else if (packetizer.clock_epoch >= CLOCK_WRAP && distance(u - CLOCK_WRAP, last) <= PACKETIZER_WRAP_WINDOW) {
            u -= CLOCK_WRAP;
        }
    }
    packetizer.last_time = u;
    return u;
}

// Places a unit's reference time on the unwrapped timeline; the first timed
// unit sets the shared base. -1 stays -1 (untimed: base untouched).
int64_t place_on_timeline(FlvPacketizer& packetizer, int64_t t) {
    if (t < 0) return -1;
    t = unwrap(packetizer, t);
    if (packetizer.time_base < 0) packetizer.time_base = t;
    return t;
}

// Milliseconds from the base of an unwrapped time, rounded down (negative
// below the base); an untimed unit takes the last value handed out.
int64_t ms_since_base(FlvPacketizer& packetizer, int64_t t) {
    if (t < 0) return packetizer.last_ms;
    const int64_t ticks = t - packetizer.time_base;
    packetizer.last_ms = ticks >= 0 ? ticks / TICKS_PER_MS : -((-ticks + TICKS_PER_MS - 1) / TICKS_PER_MS);
    return packetizer.last_ms;
}

// pts - dts in ms (truncated toward zero), unwrapped across a clock wrap
// between the two and held to the 24 bits the field has.
int32_t composition_ms(int64_t pts, int64_t dts) {
    if (pts < 0 || dts < 0) return 0;
    int64_t offset = pts - dts;
    if (pts < CLOCK_WRAP && dts < CLOCK_WRAP) {
        if (offset < -HALF_WRAP) offset += CLOCK_WRAP;
        if (offset > HALF_WRAP) offset -= CLOCK_WRAP;
    }
    int64_t ms = offset / TICKS_PER_MS;
    if (ms > 0x7FFFFF) ms = 0x7FFFFF;
    if (ms < -0x800000) ms = -0x800000;
    return static_cast<int32_t>(ms);
}

// ---- AAC ----

// Frame times inside one unit, in 90 kHz ticks after its first frame: frame
// k of a run at one rate starts k * 1024 samples after the run, so rounding
// never accumulates and a rate change starts a new run.
struct AacFrameClock {
    bool started = false;
    uint32_t rate = 0;  // 0 for a reserved frequency index: 21 ms steps
    uint64_t run_start = 0;
    uint64_t run_frames = 0;
    uint64_t next = 0;

    uint64_t elapsed(uint64_t frames) const {
        return rate ? frames * AAC_SAMPLES_PER_FRAME * 90000 / rate : frames * 21 * TICKS_PER_MS;
    }

    int64_t next_frame(uint32_t frequency_index) {
        const uint32_t frame_rate = adts_sample_rate(frequency_index);
        if (!started || frame_rate != rate) {
            started = true;
            rate = frame_rate;
            run_start = next;
            run_frames = 0;
        }
        const uint64_t at = run_start + elapsed(run_frames);
        ++run_frames;
        next = run_start + elapsed(run_frames);
        return static_cast<int64_t>(at);
    }
};

// Milliseconds of a frame `offset` ticks after its unit's first frame at
// `first` (-1: an untimed unit, whose frames are spaced from the last time).
int64_t frame_ms(FlvPacketizer& packetizer, int64_t first, int64_t offset, int64_t untimed_start) {
    if (first < 0) return untimed_start + offset / TICKS_PER_MS;
    return ms_since_base(packetizer, offset > INT64_MAX - first ? INT64_MAX : first + offset);
}

bool send_aac_header_if_changed(FlvPacketizer& packetizer, const AdtsHeader& header, int64_t timestamp_ms) {
    if (packetizer.aac_header_sent && packetizer.aac_frequency_index == header.frequency_index &&
        packetizer.aac_channel_config == header.channel_configuration) {
        return true;
    }
    const uint8_t body[4] = {
        AAC_SOUND_FORMAT,
        0x00,
        static_cast<uint8_t>(((header.profile + 1) << 3) | (header.frequency_index >> 1)),
        static_cast<uint8_t>(((header.frequency_index & 1) << 7) | (header.channel_configuration << 3)),
    };
    if (!send(packetizer, FLV_TAG_AUDIO, timestamp_ms, body)) return false;
    packetizer.aac_frequency_index = header.frequency_index;
    packetizer.aac_channel_config = header.channel_configuration;
    packetizer.aac_header_sent = true;
    return true;
}

bool send_aac_frame(FlvPacketizer& packetizer, std::span<const uint8_t> raw, int64_t timestamp_ms) {
    std::array<uint8_t, AAC_MAX_FRAME_BODY> body;
    if (raw.size() + 2 > body.size()) return false;
    body[0] = AAC_SOUND_FORMAT;
    body[1] = 0x01;
    if (!raw.empty()) std::memcpy(body.data() + 2, raw.data(), raw.size());
    return send(packetizer, FLV_TAG_AUDIO, timestamp_ms, std::span(body).first(raw.size() + 2));
}

// ---- H.264 ----

// Keeps a copy of a parameter set; the usual repeat of the same bytes costs
// no allocation. A set too large for the 16-bit length FLV gives it is not
// kept. A changed set marks a header already sent as stale. False only when
// memory is short (the old copy then stays).
bool store_parameter_set(FlvPacketizer& packetizer, ParameterSet& set, std::span<const uint8_t> nal) {
    if (nal.size() > AVC_MAX_PARAMETER_SET_SIZE) return true;
    if (set.bytes && set.size == nal.size() && std::memcmp(set.bytes.get(), nal.data(), nal.size()) == 0) {
        return true;
    }
    if (packetizer.avc_header_sent) packetizer.avc_header_stale = true;
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[nal.size()]);
    if (!copy) return false;
    std::memcpy(copy.get(), nal.data(), nal.size());
    set.bytes = std::move(copy);
    set.size = nal.size();
    return true;
}

bool kept_in_frame(uint8_t nal_type) {
    return nal_type != H264_NAL_SPS && nal_type != H264_NAL_PPS && nal_type != H264_NAL_AUD;
}

// What the first pass learns about an access unit. The NAL units to copy are
// remembered when there are few (the usual case), so the second pass needs
// no second scan; a unit with more is scanned again.
struct AccessUnitSize {
    static constexpr size_t REMEMBERED = 64;
    size_t body_size = AVC_FRAME_PREFIX_SIZE;
    bool key_frame = false;
    size_t nal_count = 0;
    std::array<std::span<const uint8_t>, REMEMBERED> nals;
};

// First pass: stores parameter sets and sizes the frame body.
bool scan_access_unit(FlvPacketizer& packetizer, std::span<const uint8_t> data, AccessUnitSize& size) {
    AnnexbScanner scanner = annexb_scanner(data);
    std::span<const uint8_t> nal;
    while (annexb_next_nal(scanner, nal)) {
        const uint8_t type = h264_nal_type(nal);
        if (type == H264_NAL_SPS && !store_parameter_set(packetizer, packetizer.sps, nal)) return false;
        if (type == H264_NAL_PPS && !store_parameter_set(packetizer, packetizer.pps, nal)) return false;
        if (!kept_in_frame(type)) continue;
        if (nal.size() > UINT32_MAX) return false;
        if (type == H264_NAL_IDR) size.key_frame = true;
        size.body_size += 4 + nal.size();
        if (size.nal_count < AccessUnitSize::REMEMBERED) size.nals[size.nal_count] = nal;
        ++size.nal_count;
    }
    return true;
}

bool send_avc_header(FlvPacketizer& packetizer, int64_t timestamp_ms) {
    const ParameterSet& sps = packetizer.sps;
    const ParameterSet& pps = packetizer.pps;
    const size_t size = AVC_HEADER_FIXED_SIZE + sps.size + pps.size;
    std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[size]);
    if (!body) return false;
    uint8_t* out = body.get();
    const uint8_t fixed[] = {AVC_KEY_FRAME, 0x00,         0x00,         0x00, 0x00, 0x01,
                             sps.bytes[1],  sps.bytes[2], sps.bytes[3], 0xFF, 0xE1};
    std::memcpy(out, fixed, sizeof fixed);
    out += sizeof fixed;
    store_be({out, 2}, sps.size);
    std::memcpy(out + 2, sps.bytes.get(), sps.size);
    out += 2 + sps.size;
    out[0] = 0x01;
    store_be({out + 1, 2}, pps.size);
    std::memcpy(out + 3, pps.bytes.get(), pps.size);
    packetizer.avc_header_sent = send(packetizer, FLV_TAG_VIDEO, timestamp_ms, {body.get(), size});
    if (packetizer.avc_header_sent) packetizer.avc_header_stale = false;
    return packetizer.avc_header_sent;
}

uint8_t* put_nal(uint8_t* out, std::span<const uint8_t> nal) {
    store_be({out, 4}, nal.size());
    std::memcpy(out + 4, nal.data(), nal.size());
    return out + 4 + nal.size();
}

// Second pass: the frame body, NAL units in order behind 32-bit lengths.
void fill_frame_body(std::span<const uint8_t> data, const AccessUnitSize& size, int32_t cts_ms, uint8_t* body) {
    body[0] = size.key_frame ? AVC_KEY_FRAME : AVC_INTER_FRAME;
    body[1] = 0x01;
    store_be({body + 2, 3}, static_cast<uint32_t>(cts_ms));
    uint8_t* out = body + AVC_FRAME_PREFIX_SIZE;
    if (size.nal_count <= AccessUnitSize::REMEMBERED) {
        for (size_t i = 0; i < size.nal_count; ++i) out = put_nal(out, size.nals[i]);
        return;
    }
    AnnexbScanner scanner = annexb_scanner(data);
    std::span<const uint8_t> nal;
    while (annexb_next_nal(scanner, nal)) {
        if (kept_in_frame(h264_nal_type(nal))) out = put_nal(out, nal);
    }
}

}  // namespace

FlvPacketizer* flv_packetizer_create(FlvTagCallback callback, void* context) {
    FlvPacketizer* packetizer = new (std::nothrow) FlvPacketizer{};
    if (!packetizer) return nullptr;
    packetizer->callback = callback;
    packetizer->callback_context = context;
    return packetizer;
}

int flv_packetizer_push(void* packetizer, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    auto* self = static_cast<FlvPacketizer*>(packetizer);
    if (kind == ES_VIDEO) return flv_packetizer_push_h264(self, data, pts, dts);
    if (kind == ES_AUDIO) return flv_packetizer_push_aac(self, data, pts);
    return 1;
}

int flv_packetizer_push_aac(FlvPacketizer* packetizer, std::span<const uint8_t> data, int64_t pts) {
    if (!packetizer || data.size() < ADTS_HEADER_SIZE) return 0;
    const int64_t first = place_on_timeline(*packetizer, pts);
    const int64_t untimed_start = packetizer->last_ms;
    AacFrameClock clock;
    bool sent = false;
    size_t position = 0;
    while (data.size() - position >= ADTS_HEADER_SIZE) {
        const std::span<const uint8_t> rest = data.subspan(position);
        if (!adts_has_sync(rest)) break;
        AdtsHeader header;
        if (!adts_parse_header(rest, header)) return 0;
        const int64_t ms = frame_ms(*packetizer, first, clock.next_frame(header.frequency_index), untimed_start);
        if (!send_aac_header_if_changed(*packetizer, header, ms)) return 0;
        const auto raw = rest.subspan(header.header_size, header.frame_length - header.header_size);
        if (!send_aac_frame(*packetizer, raw, ms)) return 0;
        sent = true;
        position += header.frame_length;
    }
    return sent ? 1 : 0;
}

int flv_packetizer_push_h264(FlvPacketizer* packetizer, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    if (!packetizer) return 0;
    const int64_t ms = ms_since_base(*packetizer, place_on_timeline(*packetizer, dts >= 0 ? dts : pts));
    AccessUnitSize size;
    if (!scan_access_unit(*packetizer, data, size)) return 0;
    const bool header_due = !packetizer->avc_header_sent || (packetizer->avc_header_stale && size.key_frame);
    if (header_due && packetizer->sps.size >= 4 && packetizer->pps.size > 0) {
        if (!send_avc_header(*packetizer, ms)) return 0;
    }
    if (size.nal_count == 0) return 1;
    std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[size.body_size]);
    if (!body) return 0;
    fill_frame_body(data, size, composition_ms(pts, dts), body.get());
    return send(*packetizer, FLV_TAG_VIDEO, ms, {body.get(), size.body_size}) ? 1 : 0;
}

void flv_packetizer_destroy(FlvPacketizer* packetizer) {
    delete packetizer;
}
