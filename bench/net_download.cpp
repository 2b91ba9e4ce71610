// HTTP(S) segment download throughput and live HLS delivery latency.
//
// Run through bench/net_download.sh, which starts nginx (HTTP and HTTPS with
// a throw-away CA) and ffmpeg and passes the URLs in:
//   net_download [benchmark flags]           http_get of a 2 MB segment,
//       from VELTRONA_BENCH_HTTP_URL and VELTRONA_BENCH_HTTPS_URL; MB/s as
//       "bytes_per_second".
//   net_download --live-latency URL FILE     follows the live playlist URL
//       with the downloader until it ends, while watching FILE (the same
//       playlist on disk) every 10 ms; prints, per segment, the time from
//       its first appearance in FILE to its delivery into the ring, then the
//       median and the worst.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/hls_downloader.h"
#include "net/hls_playlist.h"
#include "net/http_client.h"
#include "platform/time/clock.h"

namespace {

void fetch_segment(benchmark::State& state, const char* variable) {
    const char* url = std::getenv(variable);
    if (!url) {
        state.SkipWithError("URL variable not set (run bench/net_download.sh)");
        return;
    }
    uint64_t bytes = 0;
    for (auto _ : state) {
        ByteBuffer body;
        uint32_t status = 0;
        char error[256];
        if (!http_get(url, 180000, &body, &status, error)) {
            state.SkipWithError(error);
            break;
        }
        bytes += body.size;
        byte_buffer_free(&body);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_HttpGetSegment(benchmark::State& state) {
    fetch_segment(state, "VELTRONA_BENCH_HTTP_URL");
}
void BM_HttpsGetSegment(benchmark::State& state) {
    fetch_segment(state, "VELTRONA_BENCH_HTTPS_URL");
}
BENCHMARK(BM_HttpGetSegment)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HttpsGetSegment)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string folder_of(const std::string& path) {
    return path.substr(0, path.rfind('/') + 1);
}

// Watches the playlist file: segment content -> tick when its name first appeared.
struct Watcher {
    std::mutex lock;
    std::map<std::string, uint64_t> appeared;  // by name
    std::atomic<bool> done{false};

    void run(const std::string& file) {
        while (!done) {
            uint64_t now = tick_ms();
            HlsPlaylist playlist;
            if (hls_parse_media_playlist("http://x/", read_all(file), &playlist, std::span<char>())) {
                std::lock_guard guard(lock);
                for (size_t i = 0; i < playlist.references.size(); ++i) {
                    appeared.emplace(hls_segment_url(playlist, i).substr(9), now);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

int live_latency(const std::string& url, const std::string& file) {
    Watcher watcher;
    std::thread watching([&] { watcher.run(file); });
    Event stop;
    SegmentRing* ring = hls_downloader_start(url, &stop);
    if (!ring) return 1;
    std::vector<std::pair<std::string, uint64_t>> delivered;  // bytes, tick
    for (;;) {
        ByteBuffer segment;
        if (segment_ring_take(ring, &segment) != SegmentTake::segment) break;
        delivered.emplace_back(std::string(byte_buffer_text(segment)), tick_ms());
        byte_buffer_free(&segment);
    }
    segment_ring_teardown(ring);
    watcher.done = true;
    watching.join();
    std::vector<uint64_t> latencies;
    for (const auto& [bytes, at] : delivered) {
        for (const auto& [name, appeared] : watcher.appeared) {
            if (read_all(folder_of(file) + name) == bytes) {
                latencies.push_back(at - appeared);
                std::printf("%s %llu ms\n", name.c_str(), static_cast<unsigned long long>(at - appeared));
                break;
            }
        }
    }
    if (latencies.empty()) return 1;
    std::sort(latencies.begin(), latencies.end());
    std::printf("segments %zu (delivered %zu) median %llu ms worst %llu ms\n", latencies.size(), delivered.size(),
                static_cast<unsigned long long>(latencies[latencies.size() / 2]),
                static_cast<unsigned long long>(latencies.back()));
    return latencies.size() == delivered.size() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--live-latency") return live_latency(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
