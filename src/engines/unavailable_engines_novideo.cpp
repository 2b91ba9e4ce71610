// The engines that need the video pipeline, in a build without it (the
// Windows build). Each fails at once with a message that says so, which the
// runner records as the last error; none of them pretends to work.
#include "engines/engines.h"
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
