// The video pipeline on a whole clip, for bench/video_pipeline.sh: reads
// the video units of an MPEG-TS file (libavformat, as a player would),
// feeds them through video_pipeline_* with a picture and a scrolling ticker,
// and writes the encoded Annex B stream to a file. Prints frames in and
// out, the encoder opened, and frames per second of this process's CPU
// time (user + system, all threads).
//
//   video_pipeline CLIP.ts LOGO.png OUT.h264 [encoder text, default "Software H.264"]
extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/resource.h>

#include <array>
#include <cstdio>
#include <string>

#include "video/video_pipeline.h"

namespace {

struct Sink {
    FILE* file = nullptr;
    long units = 0;
};

int write_unit(void* context, uint32_t, std::span<const uint8_t> data, int64_t, int64_t) {
    auto& sink = *static_cast<Sink*>(context);
    ++sink.units;
    return std::fwrite(data.data(), 1, data.size(), sink.file) == data.size() ? 1 : 0;
}

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s CLIP.ts LOGO.png OUT.h264 [encoder]\n", argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    OverlaySettings settings;
    settings.image_enabled = 1;
    settings.image_path = argv[2];
    settings.text_enabled = 1;
    settings.text = "Veltrona benchmark ticker: the quick brown fox jumps over the lazy dog";
    settings.font_size = 24;
    settings.scroll_speed = 50;
    settings.text_color = 0x00FFFFFF;
    settings.background_color = 0x00800000;
    settings.bitrate = 6000000;
    settings.encoder = argc > 4 ? argv[4] : "Software H.264";

    Sink sink{std::fopen(argv[3], "wb")};
    AVFormatContext* format = nullptr;
    if (!sink.file || avformat_open_input(&format, argv[1], nullptr, nullptr) < 0) {
        std::fprintf(stderr, "cannot open %s or %s\n", argv[1], argv[3]);
        return 1;
    }
    const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    std::array<char, 256> error{};
    VideoPipeline* pipeline = video_pipeline_create(settings, write_unit, &sink, error);
    AVPacket* packet = av_packet_alloc();
    long fed = 0;
    bool ok = pipeline && video >= 0 && packet;
    while (ok && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video) {
            const int64_t pts = packet->pts == AV_NOPTS_VALUE ? -1 : packet->pts;
            const int64_t dts = packet->dts == AV_NOPTS_VALUE ? pts : packet->dts;
            ok = video_pipeline_feed(pipeline, {packet->data, size_t(packet->size)}, pts, dts, error) != 0;
            ++fed;
        }
        av_packet_unref(packet);
    }
    ok = ok && video_pipeline_finish(pipeline, error) != 0;
    const std::string encoder(video_pipeline_encoder_name(pipeline));
    video_pipeline_free(pipeline);
    av_packet_free(&packet);
    avformat_close_input(&format);
    std::fclose(sink.file);
    const double cpu = cpu_seconds();
    std::printf("units in %ld, out %ld, encoder %s, cpu %.2f s, %.1f frames per cpu second\n", fed, sink.units,
                encoder.c_str(), cpu, double(sink.units) / cpu);
    if (!ok) std::fprintf(stderr, "failed: %s\n", error.data());
    return ok ? 0 : 1;
}
