// The loop engines' shared run: one RTMP connection, then pass after pass
// over a file on one timeline until stopped or failed.
//
//   connect -> status -> pass -> offset = highest + 1 -> pass -> ...
//
// One PublishContext (publisher, pacing clock) serves every pass, so the
// first tag of a pass falls due one millisecond after the last tag of the
// pass before. Each pass makes its own packetizer, so it opens with fresh
// sequence headers. A pass that reaches its end without sending a single
// tag fails the run (with the loop's own text) instead of spinning through
// the file without pause; the runner retries it later.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engines/engine_contract.h"
#include "engines/publish_context.h"

// Plays the source once into `context` (whose packetizer it makes and
// drops): done at the end of the source, stopped or failed.
using PublishPass = EngineResult (*)(PublishContext& context, void* pass_context, std::span<char> error);

struct PublishLoop {
    std::string output_url;
    std::vector<std::string> more_output_urls{};
    const char* status_text = "";      // reported once connected
    const char* empty_pass_text = "";  // a pass that sent nothing
    int64_t initial_timestamp = 0;     // where the timeline starts (0 in a normal run)
    PublishPass pass = nullptr;
    void* pass_context = nullptr;
};

// Runs the loop for `run` (its stop event, status, notices and statistics):
// stopped only when it ended because the stop event was set (the error
// buffer then empty), else failed with the reason ("RTMP URL conversion
// failed", the connection's text, or the pass's).
[[nodiscard]] EngineResult publish_loop_run(const PublishLoop& loop, const EngineRun& run, std::span<char> error);
