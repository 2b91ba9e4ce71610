// ffmpeg/ffprobe wrappers; every run is bounded by run_command's time-out.
#include "support/media_fixtures.h"

#include <cstdlib>
#include <sstream>

#include "support/child.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// Test picture and tone; `realtime` reads both inputs at their own pace (-re).
std::vector<std::string> lavfi_inputs(double seconds, bool realtime, const std::string& picture = "320x240:rate=25") {
    std::string duration = std::to_string(seconds);
    std::vector<std::string> args;
    for (const std::string& source : {"testsrc2=size=" + picture + ":duration=" + duration,
                                      "sine=frequency=440:sample_rate=48000:duration=" + duration}) {
        if (realtime) args.push_back("-re");
        args.insert(args.end(), {"-f", "lavfi", "-i", source});
    }
    return args;
}

// H.264 with `bframes` B-frames and AAC; a key frame every `gop` frames.
std::vector<std::string> encoders(int gop, int bframes = 0) {
    return {"-c:v",     "libx264",
            "-preset",  "ultrafast",
            "-g",       std::to_string(gop),
            "-bf",      std::to_string(bframes),
            "-pix_fmt", "yuv420p",
            "-c:a",     "aac",
            "-b:a",     "64k"};
}

std::vector<std::string> ffmpeg_with(const std::vector<std::string>& inputs, const std::vector<std::string>& codecs) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
    argv.insert(argv.end(), inputs.begin(), inputs.end());
    argv.insert(argv.end(), codecs.begin(), codecs.end());
    return argv;
}

}  // namespace

bool make_test_ts(const std::string& path, double seconds) {
    return make_test_clip(path, 320, 240, 25, seconds, 0);
}

bool make_test_clip(const std::string& path, int width, int height, int rate, double seconds, int bframes) {
    const std::string picture = std::to_string(width) + "x" + std::to_string(height) + ":rate=" + std::to_string(rate);
    std::vector<std::string> argv = ffmpeg_with(lavfi_inputs(seconds, false, picture), encoders(rate, bframes));
    argv.insert(argv.end(), {"-f", "mpegts", path});
    return run_command(argv, nullptr, 120) == 0;
}

bool make_test_mp4(const std::string& path, const Mp4Fixture& f) {
    std::string duration = std::to_string(f.seconds);
    std::vector<std::string> argv = {
        "ffmpeg", "-nostdin", "-loglevel",
        "error",  "-y",       "-f",
        "lavfi",  "-i",       "testsrc2=size=" + f.size + ":rate=" + std::to_string(f.rate) + ":duration=" + duration};
    if (!f.audio_codec.empty()) {
        argv.insert(argv.end(),
                    {"-f", "lavfi", "-i",
                     "sine=frequency=440:sample_rate=" + std::to_string(f.sample_rate) + ":duration=" + duration,
                     "-c:a", f.audio_codec, "-ac", std::to_string(f.channels)});
    }
    argv.insert(argv.end(), {"-c:v", f.video_codec, "-preset", "ultrafast", "-g", std::to_string(f.rate), "-bf",
                             std::to_string(f.b_frames), "-pix_fmt", "yuv420p", "-movflags", "+faststart", path});
    return run_command(argv, nullptr, 120) == 0;
}

std::vector<VideoUnit> read_video_units(const std::string& path) {
    std::vector<VideoUnit> units;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return units;
    AVPacket* packet = av_packet_alloc();
    const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    while (video >= 0 && packet && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video) {
            units.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                             packet->pts == AV_NOPTS_VALUE ? -1 : packet->pts,
                             packet->dts == AV_NOPTS_VALUE ? -1 : packet->dts});
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return units;
}

bool make_test_segment(const std::string& path, double seconds, double clock_start, const std::string& size) {
    std::vector<std::string> argv = ffmpeg_with(lavfi_inputs(seconds, false, size + ":rate=25"), encoders(25));
    argv.insert(argv.end(), {"-output_ts_offset", std::to_string(clock_start), "-f", "mpegts", path});
    return run_command(argv, nullptr, 120) == 0;
}

std::vector<double> probe_frame_widths(const std::string& path) {
    std::string out;
    run_command(
        {"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "frame=width", "-of", "csv=p=0", path},
        &out, 120);
    std::vector<double> widths;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) widths.push_back(std::atof(line.c_str()));
    }
    return widths;
}

std::vector<std::string> ffmpeg_hls_command(const std::string& folder, double seconds, bool live) {
    // Segments are cut on key frames: one every 2 s fits the 2 s target.
    std::vector<std::string> argv = ffmpeg_with(lavfi_inputs(seconds, live), encoders(50));
    argv.insert(argv.end(), {"-f", "hls", "-hls_time", "2"});
    if (live) {
        argv.insert(argv.end(), {"-hls_list_size", "6"});
    } else {
        argv.insert(argv.end(), {"-hls_list_size", "0", "-hls_playlist_type", "vod"});
    }
    argv.push_back(folder + "/live.m3u8");
    return argv;
}

std::string probe_codecs(const std::string& path) {
    std::string out;
    run_command({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", path}, &out, 60);
    std::string joined;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        if (!joined.empty()) joined += ",";
        joined += line;
    }
    return joined;
}

std::vector<double> probe_dts(const std::string& path, char stream) {
    std::string out;
    run_command({"ffprobe", "-v", "error", "-select_streams", std::string(1, stream), "-show_entries",
                 "packet=dts_time", "-of", "csv=p=0", path},
                &out, 60);
    std::vector<double> values;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line != "N/A") values.push_back(std::atof(line.c_str()));
    }
    return values;
}

double probe_duration(const std::string& path) {
    std::string out;
    run_command({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path}, &out, 60);
    return std::atof(out.c_str());
}

bool never_goes_back(const std::vector<double>& values) {
    for (size_t i = 1; i < values.size(); ++i) {
        if (values[i] < values[i - 1]) return false;
    }
    return true;
}
