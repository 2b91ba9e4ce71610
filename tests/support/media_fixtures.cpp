// ffmpeg/ffprobe wrappers; every run is bounded by run_command's time-out.
#include "support/media_fixtures.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <sstream>

#include "platform/text/byte_order.h"
#include "support/child.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// Test picture and tone; `realtime` reads both inputs at their own pace (-re).
std::vector<std::string> ffmpeg_inputs(double seconds, bool realtime, const std::string& picture, int sample_rate,
                                       bool audio = true) {
    std::string duration = std::to_string(seconds);
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
    for (const std::string& source :
         {"testsrc2=size=" + picture + ":duration=" + duration,
          "sine=frequency=440:sample_rate=" + std::to_string(sample_rate) + ":duration=" + duration}) {
        if (realtime) argv.push_back("-re");
        argv.insert(argv.end(), {"-f", "lavfi", "-i", source});
        if (!audio) break;
    }
    return argv;
}

std::vector<double> numbers(const std::vector<std::string>& lines) {
    std::vector<double> values;
    for (const std::string& line : lines)
        if (line != "N/A") values.push_back(std::atof(line.c_str()));
    return values;
}

}  // namespace

bool make_clip(const std::string& path, const Clip& c) {
    std::vector<std::string> argv = ffmpeg_inputs(c.seconds, false, c.size + ":rate=" + std::to_string(c.rate),
                                                  c.sample_rate, !c.audio_codec.empty());
    argv.insert(argv.end(), {"-c:v", c.video_codec, "-preset", "ultrafast", "-g", std::to_string(c.rate), "-bf",
                             std::to_string(c.b_frames), "-pix_fmt", "yuv420p"});
    if (!c.audio_codec.empty()) {
        argv.insert(argv.end(), {"-c:a", c.audio_codec, "-b:a", "64k", "-ac", std::to_string(c.channels)});
    }
    argv.insert(argv.end(), c.output_args.begin(), c.output_args.end());
    bool mp4 = path.ends_with(".mp4");
    argv.insert(argv.end(), {mp4 ? "-movflags" : "-f", mp4 ? "+faststart" : "mpegts", path});
    return run_command(argv, nullptr, 120) == 0;
}

std::vector<FileUnit> read_units(const std::string& path, char stream) {
    std::vector<FileUnit> units;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return units;
    AVPacket* packet = av_packet_alloc();
    const int chosen =
        av_find_best_stream(format, stream == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    while (chosen >= 0 && packet && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == chosen)
            units.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                             packet->pts == AV_NOPTS_VALUE ? -1 : packet->pts,
                             packet->dts == AV_NOPTS_VALUE ? -1 : packet->dts});
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return units;
}

std::vector<std::string> ffmpeg_hls_command(const std::string& folder, double seconds, bool live) {
    // Segments are cut on key frames: one every 2 s fits the 2 s target.
    std::vector<std::string> argv = ffmpeg_inputs(seconds, live, "320x240:rate=25", 48000);
    argv.insert(argv.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-g", "50", "-bf", "0", "-pix_fmt", "yuv420p",
                             "-c:a", "aac", "-b:a", "64k", "-f", "hls", "-hls_time", "2", "-hls_list_size"});
    argv.push_back(live ? "6" : "0");
    if (!live) argv.insert(argv.end(), {"-hls_playlist_type", "vod"});
    argv.push_back(folder + "/live.m3u8");
    return argv;
}

std::vector<std::string> probe_lines(const std::string& path, const std::string& select, const std::string& entries) {
    std::vector<std::string> argv = {"ffprobe", "-v", "error", "-select_streams", select};
    if (select.empty()) argv.resize(3);
    argv.insert(argv.end(), {"-show_entries", entries, "-of", "csv=p=0", path});
    std::string out;
    run_command(argv, &out, 120);
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string probe_codecs(const std::string& path) {
    std::string joined;
    for (const std::string& codec : probe_lines(path, "", "stream=codec_name"))
        joined += (joined.empty() ? "" : ",") + codec;
    return joined;
}

std::vector<double> probe_dts(const std::string& path, char stream) {
    return numbers(probe_lines(path, std::string(1, stream), "packet=dts_time"));
}

double probe_duration(const std::string& path) {
    std::vector<double> duration = numbers(probe_lines(path, "", "format=duration"));
    return duration.empty() ? 0 : duration[0];
}

// FLV layout: "FLV", version, flags, 4-byte header size, then
// (previous tag size (4), tag header (11), body)* ; the tag header holds the
// type, a 3-byte body size, a 3-byte timestamp and its upper byte, and a
// 3-byte stream id.
bool flv_read_tags(const std::string& file, std::vector<FlvFileTag>* tags) {
    tags->clear();
    ByteReader in{{reinterpret_cast<const uint8_t*>(file.data()), file.size()}};
    if (in.be(3) != 0x464C56) return false;  // "FLV"
    in.at = 5;
    in.at = in.be(4);
    if (in.failed || in.at < 9 || in.at > file.size()) return false;
    for ((void)in.be(4); !in.failed && in.left() > 0; (void)in.be(4)) {  // each tag follows the previous one's size
        FlvFileTag tag;
        tag.type = in.be(1) & 0x1F;
        size_t size = in.be(3);
        tag.timestamp = static_cast<uint32_t>(in.be(3));
        tag.timestamp |= static_cast<uint32_t>(in.be(1)) << 24;
        (void)in.be(3);  // stream id
        if (in.failed || in.left() < size) return false;
        tag.body.assign(in.bytes.begin() + in.at, in.bytes.begin() + in.at + size);
        in.at += size;
        tags->push_back(std::move(tag));
    }
    return !in.failed;
}

CopyCheck check_copies(const std::vector<FlvFileTag>& tags, uint8_t type, const std::string& source) {
    const bool video = type == 9;
    const std::vector<FileUnit> packets = read_units(source, video ? 'v' : 'a');
    const size_t header = video ? 5 : 2;
    CopyCheck check{.per_pass = packets.size()};
    for (const FlvFileTag& tag : tags) {
        if (tag.type != type || tag.body.size() < header || tag.body[1] != 1) continue;  // 1: a frame
        const bool same = !packets.empty() && std::ranges::equal(std::span(tag.body).subspan(header),
                                                                 packets[check.frames % packets.size()].bytes);
        check.differing += !same;
        ++check.frames;
    }
    return check;
}
