// The contract between the runner and the six media engines.
//
// Every engine has one shape: its own options record (what this call is
// about: URLs, paths, overlay settings), the EngineRun every engine gets
// from its runner (stop event, status callback, hooks, statistics), and a
// narrow UTF-8 error buffer of ENGINE_ERROR_SIZE bytes that the runner
// zero-fills before the call. Engines are called synchronously on the
// runner's thread; once the stop event is set an engine returns as soon as it
// can. Each ends with an EngineResult; a failed engine leaves its reason
// (possibly empty) in the buffer.
//
// The runner reaches the engines through an EngineTable, so tests can drive
// every state path with engines of their own. Adding an engine is one
// options record, one function and one row of the table. Nothing here knows
// a Workflow: callbacks and the overlay fetch carry an opaque context.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/time/event.h"
#include "video/overlay_settings.h"

struct HlsSegmentHistory;
struct KeptOutputs;
struct PacingStats;
struct WorkflowHealth;

constexpr size_t ENGINE_ERROR_SIZE = 512;

// How an engine, a pass of a loop or a step of a run ended.
enum class EngineResult {
    done,     // it came to its end without a failure (each engine's own rule says when)
    stopped,  // the stop event ended it
    failed,   // the reason is in the error buffer, possibly empty
};

// Each output of a run that has several connects, sends and fails on its own.
enum class OutputState : uint32_t { connecting, connected, reconnecting };

// What an output is doing, for the workflow's display: since when (the
// millisecond tick it entered the state) and why it last failed.
struct OutputStatus {
    size_t number = 0;  // its place among the workflow's outputs: 1 is the output URL
    OutputState state = OutputState::connecting;
    uint64_t since_ms = 0;
    std::string last_error;  // "" until it failed once; never holds the URL
};

// "CONNECTING", "CONNECTED" or "RECONNECTING".
[[nodiscard]] const char* output_state_name(OutputState state);

// Called when an engine reaches its working phase; may be called from any thread.
using EngineStatusCallback = void (*)(void* context, const char* text);

// What a long-running engine may ask of its runner besides status, on the
// engine's thread. Either function may be null.
struct EngineHooks {
    // Resolves the source page again (its media URL expired); true with the
    // fresh playlist URL in `url`.
    bool (*resolve_source)(void* context, std::string* url) = nullptr;
    // A problem the engine survives and goes on after: logged and shown as
    // the workflow's last error.
    void (*notice)(void* context, const char* text) = nullptr;
    // An output of a run with several changed state; called on that
    // output's own thread, never after the engine returned unless it left
    // its outputs in `kept_outputs`: then until the runner drops them.
    void (*output_status)(void* context, const OutputStatus& status) = nullptr;
    void* context = nullptr;
    // The segments the run has recorded so far, kept by the runner across
    // its capture attempts: a live engine joins the source after them and
    // adds each segment it records. May be null.
    HlsSegmentHistory* recorded = nullptr;
    // The number each output of the run is shown by, in output order (its
    // place among the workflow's stored outputs); empty: 1, 2, 3 ...
    std::vector<size_t> output_numbers{};
    // Where a live engine whose source failed leaves its outputs (several,
    // still connected), so the run's next attempt goes on with them; kept
    // by the runner between attempts, dropping it closes them. May be null.
    KeptOutputs* kept_outputs = nullptr;
};

// What every engine gets from its runner, whatever it does.
struct EngineRun {
    Event* stop_event = nullptr;
    EngineStatusCallback status = nullptr;  // may be null
    void* status_context = nullptr;         // the workflow, for the runner's callbacks
    EngineHooks hooks{};
    PacingStats* stats = nullptr;      // lateness of each tag, for measurements; may be null
    WorkflowHealth* health = nullptr;  // the run's figures (engines/health.h); may be null
};

// Tells the run's status callback, when there is one.
inline void engine_status(const EngineRun& run, const char* text) {
    if (run.status) run.status(run.status_context, text);
}

// The engines' own options, one record each. A recording path that is empty
// records nothing. `more_output_urls` are the outputs after the first: with
// any, every output connects and fails on its own and the run goes on while
// at least one can be reached again; with none, the one output failing ends
// the run as it always did.
struct OverlayStreamOptions {
    std::string source_url;
    std::string output_url;
    std::string recording_path;
    OverlaySettings settings;
    std::vector<std::string> more_output_urls{};
};
struct HlsToRtmpOptions {
    std::string source_url;
    std::string output_url;
    std::string recording_path;
    std::vector<std::string> more_output_urls{};
};
struct HlsToTsOptions {
    std::string source_url;
    std::string recording_path;
};
struct Mp4LoopOptions {
    std::string mp4_path;
    std::string output_url;
    const OverlaySettings* settings = nullptr;  // null, or neither overlay enabled: packet copy
    std::vector<std::string> more_output_urls{};
};
struct OverlayTsLoopOptions {
    std::string recording_path;
    std::string output_url;
    OverlaySettings settings;
    std::vector<std::string> more_output_urls{};
};
struct TsLoopOptions {
    std::string recording_path;
    std::string output_url;
    // Where the timeline starts (0 in a normal run), so long-run behaviour
    // can be reached without waiting hours for it.
    int64_t initial_timestamp = 0;
    std::vector<std::string> more_output_urls{};
};

template <typename Options>
using Engine = EngineResult (*)(const Options& options, const EngineRun& run, std::span<char> error);

struct EngineTable {
    Engine<OverlayStreamOptions> overlay_stream_engine;
    Engine<HlsToRtmpOptions> hls_to_rtmp_engine;
    Engine<HlsToTsOptions> hls_to_ts_recorder;
    Engine<Mp4LoopOptions> mp4_loop_engine;
    Engine<OverlayTsLoopOptions> overlay_ts_loop_engine;
    Engine<TsLoopOptions> ts_loop_publisher;
};

// The engines built into this program.
[[nodiscard]] const EngineTable& default_engine_table();
