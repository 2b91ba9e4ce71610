// One pass over an MP4 file as elementary-stream units: the track checks and
// their messages, then every sample of the chosen tracks in decode order,
// video as Annex B access units (the track's SPS and PPS in front of the
// first), audio as ADTS frames, each handed to a sink with 90 kHz times.
//
// Whoever drives a pass decides where the units go (the FLV packetizer, or
// the video pipeline for video); this layer knows nothing of publishing.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engines/engine_contract.h"
#include "media/es_unit.h"
#include "media/h264_form.h"
#include "mp4/mp4_reader.h"
#include "platform/time/event.h"

struct Mp4UnitSource {
    Mp4ReaderPtr reader;
    H264Form video_form;          // from the track's avcC record: its samples are length-prefixed
    std::vector<uint8_t> prefix;  // SPS and PPS in Annex B form; empty when the track has none
    bool first_video_sent = false;
    uint32_t sample_rate = 0;
    uint32_t channels = 0;
    std::vector<uint8_t> unit;  // reused for every converted sample
};

// Opens the file and checks its tracks. False with "MP4 file cannot be
// opened", "MP4 video must use H.264" or "MP4 audio must use AAC".
[[nodiscard]] bool mp4_source_open(Mp4UnitSource& source, const std::string& path, std::span<char> error);

// Hands every sample to `sink` until the end of the file (done), a set stop
// event (stopped, tested after each sample) or a failure: "MP4 sample read
// failed", "Invalid H.264 sample in MP4", "Unsupported AAC format in MP4",
// or the sink's own (whose text, if any, stays).
[[nodiscard]] EngineResult mp4_source_play(Mp4UnitSource& source, EsUnitCallback sink, void* sink_context,
                                           Event* stop_event, std::span<char> error);
