// Arbitrary bytes as an H.264 Annex B stream, cut into access units at each
// delimiter (00 00 01 09), through the pipeline with a ticker band: reaches
// what the demuxer fuzzers never do, parameter sets switching size, chroma
// format or bit depth mid-stream, damaged slices, any first geometry.
#include <array>
#include <cstdint>
#include <span>

#include "video/video_pipeline.h"

namespace {

int drop_unit(void*, uint32_t, std::span<const uint8_t>, int64_t, int64_t) {
    return 1;
}

bool delimiter_at(const uint8_t* data, size_t size, size_t at) {
    return at + 4 <= size && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1 && (data[at + 3] & 0x1F) == 9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OverlaySettings settings;
    settings.text_enabled = 1, settings.text = "fuzz", settings.font_size = 8, settings.encoder = "Software H.264";
    std::array<char, 128> error{};
    VideoPipeline* pipeline = video_pipeline_create(settings, drop_unit, nullptr, error);
    if (!pipeline) return 0;
    size_t start = 0;
    int64_t time = 0;
    bool fed = true;
    for (size_t at = 1; fed && at <= size; ++at) {
        if (at != size && !delimiter_at(data, size, at)) continue;
        fed = video_pipeline_feed(pipeline, {data + start, at - start}, time, time, error) != 0;
        start = at;
        time += 3000;
    }
    if (fed) (void)video_pipeline_finish(pipeline, error);
    video_pipeline_free(pipeline);
    return 0;
}
