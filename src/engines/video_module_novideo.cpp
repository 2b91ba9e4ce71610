// The video engines in a build without the video pipeline (the quick core
// build, VELTRONA_WITH_VIDEO=OFF). Each fails at once with a message that
// says so, which the runner records as the last error; none of them pretends
// to work.
#include "engines/engines.h"
#include "engines/video_engines.h"
#include "platform/text/error_text.h"

namespace {

EngineResult not_in_this_build(std::span<char> error, const char* what) {
    error_printf(error, "%s is not available in this build", what);
    return EngineResult::failed;
}

}  // namespace

EngineResult overlay_stream_engine(const OverlayStreamOptions&, const EngineRun&, std::span<char> error) {
    return not_in_this_build(error, "overlay streaming");
}

EngineResult mp4_loop_engine(const Mp4LoopOptions&, const EngineRun&, std::span<char> error) {
    return not_in_this_build(error, "MP4 loop streaming");
}

EngineResult overlay_ts_loop_engine(const OverlayTsLoopOptions&, const EngineRun&, std::span<char> error) {
    return not_in_this_build(error, "overlay TS loop");
}

const VideoEngineTable* video_engine_table(std::span<char>) {
    static const VideoEngineTable table{
        .overlay_stream_engine = overlay_stream_engine,
        .mp4_loop_engine = mp4_loop_engine,
        .overlay_ts_loop_engine = overlay_ts_loop_engine,
    };
    return &table;
}
