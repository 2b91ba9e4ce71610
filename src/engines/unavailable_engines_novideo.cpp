// The engines that need the video pipeline, in a build without it (the
// quick core build, VELTRONA_WITH_VIDEO=OFF). Each fails at once with a message that says so, which the
// runner records as the last error; none of them pretends to work.
#include "engines/engines.h"
#include "platform/error_text.h"

namespace {

int not_in_this_build(std::span<char> error, const char* what) {
    error_printf(error, "%s is not available in this build", what);
    return 0;
}

}  // namespace

int overlay_stream_engine(const std::string&, const std::string&, const std::string&, const OverlaySettings&, Event*,
                          EngineStatusCallback, void*, const EngineHooks&, std::span<char> error) {
    return not_in_this_build(error, "hardware overlay streaming");
}

int mp4_loop_engine(const std::string&, const std::string&, const OverlaySettings*, Event*, EngineStatusCallback, void*,
                    std::span<char> error) {
    return not_in_this_build(error, "MP4 loop streaming");
}

int overlay_ts_loop_engine(const std::string&, const std::string&, const OverlaySettings&, Event*, EngineStatusCallback,
                           void*, const EngineHooks&, std::span<char> error) {
    return not_in_this_build(error, "hardware overlay TS loop");
}
