// Demultiplex + packetize throughput on a 60-second 720p H.264/AAC transport
// stream, beside libavformat's own MPEG-TS demuxer reading the same bytes
// packet by packet in the same run. Both read from memory, so the figures
// compare parsing work, not the disk.
//
//   VELTRONA_BENCH_TS=path (default bench-720p60s.ts in the working folder);
//   the file is made with ffmpeg when it does not exist yet.
//
// Benchmarks:
//   TsToFlv            our demuxer feeding our packetizer; tags counted, not sent
//   TsToFlvWithFigures the same, each tag also counted into a run's health
//                      figures as paced_send counts it
//   LibavformatMpegts  av_read_frame over the mpegts demuxer as a player reads
//                      it (its parsers split audio PES into frames)
//   LibavformatMpegtsNoParse  the same with AVFMT_FLAG_NOPARSE (whole PES out,
//                      no frame splitting): the demuxer alone
extern "C" {
#include <libavformat/avformat.h>
}

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engines/health.h"
#include "media/flv_packetizer.h"
#include "media/ts_demuxer.h"

namespace {

std::string fixture_path() {
    const char* path = std::getenv("VELTRONA_BENCH_TS");
    return path && *path ? path : "bench-720p60s.ts";
}

bool make_fixture(const std::string& path) {
    const std::string command =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30 "
        "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 60 "
        "-c:v libx264 -preset veryfast -g 60 -b:v 2500k -maxrate 2500k -bufsize 5000k "
        "-c:a aac -b:a 128k -f mpegts '" +
        path + "'";
    std::fprintf(stderr, "making %s with ffmpeg\n", path.c_str());
    return std::system(command.c_str()) == 0;
}

const std::vector<uint8_t>& fixture() {
    static const std::vector<uint8_t> bytes = [] {
        const std::string path = fixture_path();
        std::ifstream probe(path, std::ios::binary);
        if (!probe && !make_fixture(path)) {
            std::fprintf(stderr, "cannot make %s\n", path.c_str());
            std::exit(1);
        }
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        data.resize(data.size() - data.size() % TS_PACKET_SIZE);
        return data;
    }();
    return bytes;
}

struct TagCount {
    uint64_t tags = 0;
    uint64_t bytes = 0;
};

int count_tag(void* context, const FlvTag& tag) {
    auto* count = static_cast<TagCount*>(context);
    ++count->tags;
    count->bytes += tag.body.size();
    return 1;
}

// Counts the tag, then adds the figures a run keeps for it on its way out
// (the media figures, the one output's bytes and lateness), with the time
// that paced_send already has in hand.
struct TagFigures {
    TagCount count;
    WorkflowHealth health;
};

int count_tag_with_figures(void* context, const FlvTag& tag) {
    auto* figures = static_cast<TagFigures*>(context);
    (void)count_tag(&figures->count, tag);
    const auto now = static_cast<uint64_t>(tag.timestamp_ms);
    health_media_tag(&figures->health, now, tag, tag.timestamp_ms);
    OutputHealth* output = health_output(&figures->health, 1);
    health_output_lateness(output, now, now % 40);
    health_output_sent(output, now, tag.body.size());
    return 1;
}

void run_ts_to_flv(benchmark::State& state, FlvTagCallback callback, void* context, TagCount& count) {
    const std::vector<uint8_t>& data = fixture();
    constexpr size_t CHUNK = TS_PACKET_SIZE * 5577;  // about 1 MiB, as a segment arrives
    for (auto _ : state) {
        FlvPacketizerPtr packetizer(flv_packetizer_create(callback, context));
        TsDemuxerPtr demuxer(ts_demuxer_create(flv_packetizer_push, packetizer.get()));
        const std::span<const uint8_t> all(data);
        for (size_t at = 0; at < all.size(); at += CHUNK) {
            const auto chunk = all.subspan(at, std::min(CHUNK, all.size() - at));
            if (!ts_demuxer_feed(demuxer.get(), chunk, {})) state.SkipWithError("feed failed");
        }
        if (!ts_demuxer_flush(demuxer.get())) state.SkipWithError("flush failed");
    }
    benchmark::DoNotOptimize(count);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
    state.counters["tags"] = double(count.tags) / double(state.iterations());
}

void TsToFlv(benchmark::State& state) {
    TagCount count;
    run_ts_to_flv(state, count_tag, &count, count);
}

void TsToFlvWithFigures(benchmark::State& state) {
    auto figures = std::make_unique<TagFigures>();
    run_ts_to_flv(state, count_tag_with_figures, figures.get(), figures->count);
}

struct MemoryReader {
    const std::vector<uint8_t>* data;
    size_t at = 0;
};

int read_memory(void* opaque, uint8_t* buffer, int size) {
    auto* reader = static_cast<MemoryReader*>(opaque);
    const size_t left = reader->data->size() - reader->at;
    if (left == 0) return AVERROR_EOF;
    const size_t n = std::min(left, size_t(size));
    std::memcpy(buffer, reader->data->data() + reader->at, n);
    reader->at += n;
    return int(n);
}

void run_libavformat(benchmark::State& state, bool no_parse) {
    const std::vector<uint8_t>& data = fixture();
    const AVInputFormat* mpegts = av_find_input_format("mpegts");
    uint64_t packets = 0;
    for (auto _ : state) {
        MemoryReader reader{&data};
        constexpr int IO_SIZE = 65536;
        auto* io_buffer = static_cast<uint8_t*>(av_malloc(IO_SIZE));
        AVIOContext* io = avio_alloc_context(io_buffer, IO_SIZE, 0, &reader, read_memory, nullptr, nullptr);
        AVFormatContext* format = avformat_alloc_context();
        format->pb = io;
        if (no_parse) format->flags |= AVFMT_FLAG_NOPARSE;
        if (avformat_open_input(&format, nullptr, mpegts, nullptr) < 0) {
            state.SkipWithError("avformat_open_input failed");
            break;
        }
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(format, packet) >= 0) {
            ++packets;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        avformat_close_input(&format);
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
    state.counters["packets"] = double(packets) / double(state.iterations());
}

void LibavformatMpegts(benchmark::State& state) {
    run_libavformat(state, false);
}
void LibavformatMpegtsNoParse(benchmark::State& state) {
    run_libavformat(state, true);
}

}  // namespace

BENCHMARK(TsToFlv)->Unit(benchmark::kMillisecond);
BENCHMARK(TsToFlvWithFigures)->Unit(benchmark::kMillisecond);
BENCHMARK(LibavformatMpegts)->Unit(benchmark::kMillisecond);
BENCHMARK(LibavformatMpegtsNoParse)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
