// Compressed samples of a local MP4 file, read through libavformat's MP4
// (mov) demuxer and nothing else of it: no other demuxer is probed and only
// the file protocol is allowed, so a path can never reach the network.
//
//   open -> the first video track (cover pictures aside) and the first
//           audio track, whatever their codecs -> samples in decode order
//
// Times are 90 kHz. All tracks are shifted together by one amount chosen at
// open, so the earliest decode time in the file is 0 (files with B-frames
// start their video decode times below zero); video decode times are then
// held non-decreasing and no presentation time falls below its decode time.
// Threads: one engine thread owns a reader.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

enum class Mp4Codec { none, h264, aac, other };

struct Mp4Track {
    Mp4Codec codec = Mp4Codec::none;
    std::vector<uint8_t> config;  // avcC record for H.264, AudioSpecificConfig for AAC
    uint32_t sample_rate = 0;     // audio; 0 when the file does not say
    uint32_t channels = 0;        // audio; 0 when the file does not say
};

struct Mp4Sample {
    uint32_t kind = 0;  // ES_VIDEO or ES_AUDIO
    std::span<const uint8_t> data;
    int64_t pts = 0;
    int64_t dts = 0;
};

enum class Mp4Read { sample, end, failed };

struct Mp4Reader;

// The file opened and its tracks chosen; null when the demuxer cannot open
// it (missing, empty, not an MP4, or cut off before its index).
[[nodiscard]] Mp4Reader* mp4_reader_open(const std::string& path);

// The chosen tracks (codec none when the file has no such track).
[[nodiscard]] const Mp4Track& mp4_reader_video(const Mp4Reader* reader);
[[nodiscard]] const Mp4Track& mp4_reader_audio(const Mp4Reader* reader);

// The next non-empty sample of a chosen track; its bytes stay valid until
// the next call. `failed` when the file cannot be read further (a sample
// lies past a cut-off end, a read error).
[[nodiscard]] Mp4Read mp4_reader_next(Mp4Reader* reader, Mp4Sample& sample);

void mp4_reader_close(Mp4Reader* reader);

struct Mp4ReaderDeleter {
    void operator()(Mp4Reader* reader) const { mp4_reader_close(reader); }
};
using Mp4ReaderPtr = std::unique_ptr<Mp4Reader, Mp4ReaderDeleter>;
