// Media made and judged by ffmpeg and ffprobe for engine and end-to-end
// tests: small H.264 + AAC transport streams, and what ffprobe reads back
// from a recording (codecs, per-stream DTS, duration).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A `seconds`-long 320x240 25 fps H.264 (key frame every second) + 48 kHz
// AAC MPEG-TS file; false when ffmpeg failed.
bool make_test_ts(const std::string& path, double seconds);
// What make_test_mp4 puts into an MP4 (moov first) of testsrc2 and a tone.
struct Mp4Fixture {
    double seconds = 2.0;
    std::string size = "320x240";
    int rate = 25;
    std::string video_codec = "libx264";
    int b_frames = 0;
    std::string audio_codec = "aac";  // empty: no audio track
    int sample_rate = 44100;
    int channels = 2;
};
bool make_test_mp4(const std::string& path, const Mp4Fixture& fixture);
// A `seconds`-long width x height H.264 (key frame every second, `bframes`
// B-frames) + AAC MPEG-TS file at `rate` frames per second.
bool make_test_clip(const std::string& path, int width, int height, int rate, double seconds, int bframes);

// One H.264 access unit as a transport stream carries it: Annex B bytes and
// 90 kHz times (-1 when absent).
struct VideoUnit {
    std::vector<uint8_t> bytes;
    int64_t pts = -1;
    int64_t dts = -1;
};
// Every video unit of an MPEG-TS file, in file (decode) order.
std::vector<VideoUnit> read_video_units(const std::string& path);

// Like make_test_ts, `size` pictures (e.g. "320x240"), its clock starting at
// `clock_start` seconds (ffmpeg's -output_ts_offset).
bool make_test_segment(const std::string& path, double seconds, double clock_start, const std::string& size);
// The width of every decoded frame of the first video stream.
std::vector<double> probe_frame_widths(const std::string& path);
// The ffmpeg command that writes an HLS stream (2 s segments) of `seconds`
// into `folder`/live.m3u8: with `live`, in real time (-re) as a sliding
// playlist; otherwise as fast as it can, as a VOD playlist with an end list.
// Hand it to Child::start (live) or run_command (VOD).
std::vector<std::string> ffmpeg_hls_command(const std::string& folder, double seconds, bool live);

// "h264,aac" style list of the file's stream codecs, in stream order.
std::string probe_codecs(const std::string& path);
// DTS in seconds of every packet of the first video ('v') or audio ('a') stream.
std::vector<double> probe_dts(const std::string& path, char stream);
// The container's duration in seconds (0 when unknown).
double probe_duration(const std::string& path);
// True when the values never decrease.
bool never_goes_back(const std::vector<double>& values);
