// H.264 and AAC to FLV tag bodies: the AVC and AAC sequence headers and the
// per-frame VIDEODATA/AUDIODATA bodies that RTMP carries as message types 9
// and 8 (no FLV tag header, no previous-tag-size).
//
// Input: one H.264 access unit in Annex B form, or a run of ADTS AAC frames,
// with 90 kHz timestamps (-1 = absent). Output: one FlvTag per callback call;
// its body belongs to the packetizer and is valid only during the call.
//
// Time: one base serves audio and video together; the first timed unit of
// either kind maps to 0 ms, so both stay aligned on the source clock. The
// 33-bit transport clock is unwrapped only where the wrap explains a step
// (the value lands within PACKETIZER_WRAP_WINDOW of the last one once 2^33
// is added or taken away); any other step is passed on as it is, so a clock
// that jumps back gives timestamps below the base (negative) and a jump
// forward gives a large step. Tags carry signed 64-bit milliseconds; what
// the server sees is decided downstream (the publishing timeline), which
// turns such jumps into one clean, rising timeline. Untimed units take the
// last timestamp handed out.
//
// State kept for the packetizer's life (one publishing run): the time base,
// the last SPS and PPS, whether the AVC header went out (again before the
// next key frame whenever the SPS or PPS change) and the last AAC
// configuration sent (a change re-sends the AAC header).
//
// Threads: none; one engine thread owns a packetizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "media/es_unit.h"

constexpr uint8_t FLV_TAG_AUDIO = 8;
constexpr uint8_t FLV_TAG_VIDEO = 9;
// FLV's 16-bit parameter-set lengths: anything larger cannot be described.
constexpr size_t AVC_MAX_PARAMETER_SET_SIZE = 0xFFFF;
// How close to the last time (90 kHz ticks) a value must land, once shifted
// by 2^33, to be taken for a wrap of the transport clock: 30 s.
constexpr int64_t PACKETIZER_WRAP_WINDOW = 30 * 90000;

struct FlvTag {
    uint8_t type = 0;          // FLV_TAG_AUDIO or FLV_TAG_VIDEO
    int64_t timestamp_ms = 0;  // from the stream's time base; negative below it
    std::span<const uint8_t> body;
};

// Receives one tag; returns nonzero on success, 0 on failure. Copy what you keep.
using FlvTagCallback = int (*)(void* context, const FlvTag& tag);

struct ParameterSet {
    std::unique_ptr<uint8_t[]> bytes;  // NAL header byte included; null until seen
    size_t size = 0;
};

struct FlvPacketizer {
    FlvTagCallback callback = nullptr;
    void* callback_context = nullptr;
    ParameterSet sps;
    ParameterSet pps;
    bool avc_header_sent = false;
    bool avc_header_stale = false;  // SPS or PPS changed since the header went out
    bool aac_header_sent = false;
    uint32_t aac_frequency_index = 0xFFFFFFFFu;  // of the last AAC header sent
    uint32_t aac_channel_config = 0;
    int64_t time_base = -1;   // unwrapped 90 kHz time that maps to 0 ms; -1 unset
    int64_t last_time = -1;   // last unwrapped reference time, for wrap detection
    int64_t clock_epoch = 0;  // multiple of 2^33 added to 33-bit times
    int64_t last_ms = 0;      // last timestamp handed out, for untimed units
};

// A new packetizer with no time base; null when memory is short.
[[nodiscard]] FlvPacketizer* flv_packetizer_create(FlvTagCallback callback, void* context);

// EsUnitCallback-shaped entry (`packetizer` is a FlvPacketizer*): ES_VIDEO goes
// to flv_packetizer_push_h264, ES_AUDIO to flv_packetizer_push_aac (dts
// unused); other kinds are accepted and ignored. Nonzero on success.
[[nodiscard]] int flv_packetizer_push(void* packetizer, uint32_t kind, std::span<const uint8_t> data, int64_t pts,
                                      int64_t dts);

// One access unit: stores SPS/PPS, sends the AVC sequence header once both are
// known (and again before the first key frame after either changed), then
// one frame tag with every other NAL unit (delimiters dropped).
// A unit with nothing left to send succeeds. 0 when a callback fails or memory
// is short; the stored parameter sets survive a failure.
[[nodiscard]] int flv_packetizer_push_h264(FlvPacketizer* packetizer, std::span<const uint8_t> data, int64_t pts,
                                           int64_t dts);

// ADTS frames back to back: an AAC sequence header first and on every change
// of rate or channels, then one raw tag per frame. Frame k of the unit is
// stamped k * 1024 samples after the unit's pts, each frame on the shared
// timeline. 0 for fewer than 7 bytes, no ADTS sync at the start, a frame
// length out of range, or a failed callback. Bytes after the last frame that
// do not start a frame are ignored.
[[nodiscard]] int flv_packetizer_push_aac(FlvPacketizer* packetizer, std::span<const uint8_t> data, int64_t pts);

// Frees the packetizer and its parameter sets; null does nothing.
void flv_packetizer_destroy(FlvPacketizer* packetizer);

struct FlvPacketizerDeleter {
    void operator()(FlvPacketizer* packetizer) const { flv_packetizer_destroy(packetizer); }
};
using FlvPacketizerPtr = std::unique_ptr<FlvPacketizer, FlvPacketizerDeleter>;
