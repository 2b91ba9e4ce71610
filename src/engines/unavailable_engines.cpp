// Engines not yet part of this build. Each fails at once with a message that
// says so, which the runner records as the last error and retries like any
// other failure; none of them pretends to work.
#include "engines/engines.h"
#include "platform/error_text.h"

namespace {

int unavailable(std::span<char> error, const char* what) {
    error_printf(error, "%s is not available in this build", what);
    return 0;
}

}  // namespace

int overlay_stream_engine(const std::string&, const std::string&, const std::string&, const OverlaySettings&, Event*,
                          EngineStatusCallback, void*, std::span<char> error) {
    return unavailable(error, "hardware overlay streaming");
}

int overlay_ts_loop_engine(const std::string&, const std::string&, const OverlaySettings&, Event*,
                           EngineStatusCallback, void*, std::span<char> error) {
    return unavailable(error, "hardware overlay TS loop");
}
