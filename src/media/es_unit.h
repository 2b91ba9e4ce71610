// Elementary-stream units: the hand-off between whoever finds a unit (the
// transport-stream demultiplexer, the MP4 reader, the video pipeline) and
// whoever consumes it (the FLV packetizer, a router in front of it).
//
// A unit is one H.264 access unit in Annex B form or a run of ADTS AAC
// frames, with its 90 kHz timestamps in signed 64-bit values (-1 = absent).
// The bytes belong to the caller and are valid only during the call.
#pragma once

#include <cstdint>
#include <span>

constexpr uint32_t ES_VIDEO = 1;
constexpr uint32_t ES_AUDIO = 2;

// Receives one finished unit. Returns nonzero on success, 0 on failure (the
// caller then stops and reports its own failure).
using EsUnitCallback = int (*)(void* context, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts);
