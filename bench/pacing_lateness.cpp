// Pacing and scale of the live restreaming engine, measured inside the
// process (not a Google Benchmark program: it runs for minutes against real
// peers that bench/streaming_engines.sh starts).
//
//   pacing_lateness SOURCE_URL RTMP_BASE SECONDS [WORKFLOWS] [RECORD_DIR] [IMAGE]
//
// With IMAGE (a path, or "" for none, after a RECORD_DIR that may be "")
// each workflow is an Overlay + Stream instead: IMAGE at the top left and a
// scrolling ticker, re-encoded with the software encoder at 6 Mbit/s.
//
// Runs WORKFLOWS (default 1) restreams of SOURCE_URL at once, each on its
// own thread as a runner would, to RTMP_BASE0, RTMP_BASE1, ...; each records
// to RECORD_DIR/bench-<i>.ts when a folder is given. With FANOUT=n (n > 1)
// in the environment each workflow publishes to n outputs instead,
// RTMP_BASE<i>_1 to RTMP_BASE<i>_n, every one on its own connection; a tag's
// lateness is taken once, when the workflow's pacer hands it to them all.
// Each workflow keeps its health figures as a run of the program does;
// FIGURES=0 in the environment leaves them out, to measure what they cost.
// The engines are reached through the program's own table, so an overlay run
// loads the video module as the programs do and a copy run maps no video
// library. After SECONDS they are
// stopped together. Every tag's lateness against its due time (wall clock
// when sent minus pacing start plus timestamp) is collected per workflow;
// the report gives median, p99 and max over all tags and by kind (audio
// can show a delay of its own: the frames of one audio PES are handed on
// together once the PES is complete, at once when it declares its length,
// otherwise when the next one starts), the worst workflow's video p99, and
// the process's CPU time and resident memory (peak, and its growth over the
// idle process divided by the number of workflows).
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engines/engine_contract.h"
#include "engines/health.h"
#include "engines/publish_context.h"
#include "platform/time/clock.h"
#include "platform/time/event.h"

namespace {

struct Restream {
    PacingStats stats;
    WorkflowHealth health;
    std::array<char, ENGINE_ERROR_SIZE> error{};
    EngineResult result = EngineResult::failed;
    uint64_t ended_at = 0;
};

// A /proc/self/status value in KiB ("VmRSS", "VmHWM").
long status_kib(const char* key) {
    FILE* file = std::fopen("/proc/self/status", "r");
    if (!file) return 0;
    char line[256];
    long value = 0;
    size_t key_length = std::char_traits<char>::length(key);
    while (std::fgets(line, sizeof line, file)) {
        if (std::string_view(line).substr(0, key_length) == key && line[key_length] == ':') {
            value = std::atol(line + key_length + 1);
            break;
        }
    }
    std::fclose(file);
    return value;
}

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

uint32_t percentile(std::vector<uint32_t> values, double fraction) {
    if (values.empty()) return 0;
    size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return values[index];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SOURCE_URL RTMP_BASE SECONDS [WORKFLOWS] [RECORD_DIR] [IMAGE]\n", argv[0]);
        return 2;
    }
    std::string source = argv[1], base = argv[2];
    unsigned seconds = static_cast<unsigned>(std::atoi(argv[3]));
    unsigned count = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 1;
    std::string record_dir = argc > 5 ? argv[5] : "";
    bool overlay = argc > 6;
    OverlaySettings settings;
    settings.image_enabled = overlay && *argv[6] ? 1 : 0;
    settings.image_path = overlay ? argv[6] : "";
    settings.image_scale_pct = 20;
    settings.text_enabled = 1;
    settings.text = "Veltrona overlay benchmark - a ticker line scrolling across the picture";
    settings.font_size = 36;
    settings.scroll_speed = 50;
    settings.text_color = 0xFFFFFF;
    settings.bitrate = 6000000;
    settings.encoder = "Software H.264";
    const char* fanout_text = std::getenv("FANOUT");
    const unsigned fanout = fanout_text ? static_cast<unsigned>(std::atoi(fanout_text)) : 1;
    if (seconds == 0 || count == 0 || fanout == 0) return 2;
    const char* figures_text = std::getenv("FIGURES");
    const bool figures = !figures_text || std::string_view(figures_text) != "0";
    const EngineTable& engines = default_engine_table();

    long idle_rss = status_kib("VmRSS");
    double idle_cpu = cpu_seconds();
    Event stop;
    std::vector<Restream> workflows(count);
    std::vector<std::thread> threads;
    uint64_t began = tick_ms();
    for (unsigned i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            std::string output = base + std::to_string(i);
            std::vector<std::string> more;
            if (fanout > 1) {
                for (unsigned k = 2; k <= fanout; ++k) more.push_back(output + "_" + std::to_string(k));
                output += "_1";
            }
            std::string recording = record_dir.empty() ? "" : record_dir + "/bench-" + std::to_string(i) + ".ts";
            const EngineRun run{
                .stop_event = &stop, .stats = &workflows[i].stats, .health = figures ? &workflows[i].health : nullptr};
            workflows[i].result =
                overlay ? engines.overlay_stream_engine({source, output, recording, settings, more}, run,
                                                        workflows[i].error)
                        : engines.hls_to_rtmp_engine({source, output, recording, more}, run, workflows[i].error);
            workflows[i].ended_at = tick_ms();
        });
    }
    long steady_rss = 0;
    for (unsigned s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (s == seconds / 2) steady_rss = status_kib("VmRSS");
    }
    uint64_t stop_at = tick_ms();
    stop.set();
    for (std::thread& thread : threads) thread.join();
    double busy_cpu = cpu_seconds() - idle_cpu;

    std::vector<uint32_t> all, video, audio;
    uint32_t worst_p99 = 0;
    unsigned slow = 0, failed = 0;
    size_t fewest = SIZE_MAX, most = 0;
    for (const Restream& w : workflows) {
        const std::vector<uint32_t>& lateness = w.stats.lateness_ms;
        std::vector<uint32_t> own_video;
        for (size_t i = 0; i < lateness.size(); ++i) {
            all.push_back(lateness[i]);
            if (w.stats.tag_types[i] == FLV_TAG_VIDEO) {
                video.push_back(lateness[i]);
                own_video.push_back(lateness[i]);
            } else {
                audio.push_back(lateness[i]);
            }
        }
        uint32_t p99 = percentile(own_video, 0.99);
        worst_p99 = std::max(worst_p99, p99);
        if (p99 >= 100) ++slow;
        // Ended before the stop, or never sent anything: it did not keep up.
        if (w.ended_at < stop_at || lateness.empty()) {
            ++failed;
            std::fprintf(stderr, "workflow ended early (result %d): %s\n", static_cast<int>(w.result), w.error.data());
        }
        fewest = std::min(fewest, lateness.size());
        most = std::max(most, lateness.size());
    }
    std::printf("workflows %u%s x %u output%s, %u s (%.1f s wall), recording %s, health figures %s\n", count,
                overlay ? " (overlay)" : "", fanout, fanout == 1 ? "" : "s", seconds,
                static_cast<double>(stop_at - began) / 1000.0, record_dir.empty() ? "off" : "on",
                figures ? "on" : "off");
    std::printf("tags per workflow: %zu to %zu\n", fewest, most);
    for (const auto& [name, values] :
         {std::pair<const char*, const std::vector<uint32_t>&>{"all", all}, {"video", video}, {"audio", audio}}) {
        std::printf("lateness, %s tags (%zu): median %u ms, p99 %u ms, max %u ms\n", name, values.size(),
                    percentile(values, 0.5), percentile(values, 0.99),
                    values.empty() ? 0u : *std::max_element(values.begin(), values.end()));
    }
    std::printf("worst workflow video p99: %u ms; workflows with video p99 >= 100 ms: %u; ended early: %u\n", worst_p99,
                slow, failed);
    std::printf("CPU: %.2f s (%.1f%% of one core)\n", busy_cpu,
                100.0 * busy_cpu / (static_cast<double>(stop_at - began) / 1000.0));
    std::printf("RSS: idle %.1f MiB, mid-run %.1f MiB, peak %.1f MiB; per workflow (mid-run - idle) / n = %.2f MiB\n",
                idle_rss / 1024.0, steady_rss / 1024.0, status_kib("VmHWM") / 1024.0,
                (steady_rss - idle_rss) / 1024.0 / count);
    return failed == 0 ? 0 : 1;
}
