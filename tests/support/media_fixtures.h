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

// One packet as libavformat reads it: its bytes (H.264 in Annex B form from
// a transport stream, length-prefixed from an MP4) and its times in the
// stream's time base, 90 kHz for a transport stream (-1 when absent).
struct FileUnit {
    std::vector<uint8_t> bytes;
    int64_t pts = -1;
    int64_t dts = -1;
};
// Every packet of the file's first video ('v') or audio ('a') stream, in
// file (decode) order.
std::vector<FileUnit> read_units(const std::string& path, char stream = 'v');

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

// The frame tags of one type (sequence headers left out) held against the
// packets of `source` they were copied from, pass after pass: the i-th
// tag's payload (after the 5-byte video or 2-byte audio tag header) against
// packet i modulo the packets of the file's stream.
struct CopyCheck {
    size_t frames = 0;     // frame tags of the type
    size_t differing = 0;  // of them, payloads not byte-identical to their packet
    size_t per_pass = 0;   // packets of the stream in the file
};
CopyCheck check_copies(const std::vector<FlvFileTag>& tags, uint8_t type, const std::string& source);
