// Media made and judged by ffmpeg and ffprobe for engine and end-to-end
// tests: small H.264 + AAC clips, live and VOD HLS, what ffprobe reads back
// from a recording (codecs, per-stream DTS, duration), and the tags of an
// ffmpeg-made FLV file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What make_clip writes: testsrc2 and a 440 Hz tone, a key frame every second.
struct Clip {
    double seconds = 2.0;
    std::string size = "320x240";
    int rate = 25;
    int b_frames = 0;
    std::string video_codec = "libx264";
    std::string audio_codec = "aac";  // empty: no audio track
    int sample_rate = 44100;
    int channels = 2;
    std::vector<std::string> output_args = {};  // e.g. {"-output_ts_offset", "3600"}
};
// An MP4 (moov first) when `path` ends in ".mp4", else MPEG-TS; false when
// ffmpeg failed.
bool make_clip(const std::string& path, const Clip& clip = {});

// One H.264 access unit as a transport stream carries it: Annex B bytes and
// 90 kHz times (-1 when absent).
struct VideoUnit {
    std::vector<uint8_t> bytes;
    int64_t pts = -1;
    int64_t dts = -1;
};
// Every video unit of an MPEG-TS file, in file (decode) order.
std::vector<VideoUnit> read_video_units(const std::string& path);

// The ffmpeg command that writes an HLS stream (2 s segments) of `seconds`
// into `folder`/live.m3u8: with `live`, in real time (-re) as a sliding
// playlist; otherwise as fast as it can, as a VOD playlist with an end list.
// Hand it to Child::start (live) or run_command (VOD).
std::vector<std::string> ffmpeg_hls_command(const std::string& folder, double seconds, bool live);

// ffprobe's values of `entries` (e.g. "packet=dts_time") for the streams
// `select` picks ("" = all), one line each, empty lines dropped.
std::vector<std::string> probe_lines(const std::string& path, const std::string& select, const std::string& entries);
// "h264,aac" style list of the file's stream codecs, in stream order.
std::string probe_codecs(const std::string& path);
// DTS in seconds of every packet of the first video ('v') or audio ('a') stream.
std::vector<double> probe_dts(const std::string& path, char stream);
// The container's duration in seconds (0 when unknown).
double probe_duration(const std::string& path);

// An FLV file's tags, so a test can publish real H.264/AAC tag bodies
// without the product's own packetizer. Bounds-checked; a damaged file gives
// false.
struct FlvFileTag {
    uint8_t type = 0;        // 8 audio, 9 video, 18 script data
    uint32_t timestamp = 0;  // milliseconds, with the extension byte applied
    std::vector<uint8_t> body;
};
bool flv_read_tags(const std::string& file_bytes, std::vector<FlvFileTag>* tags);
