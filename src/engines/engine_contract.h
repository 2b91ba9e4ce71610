// The contract between the runner and the six media engines.
//
// Every engine is called synchronously on the runner's thread, with the
// workflow's stop event, a status callback whose context is the workflow,
// and a narrow UTF-8 error buffer of ENGINE_ERROR_SIZE bytes that the runner
// zero-fills before the call. An engine returns nonzero when it ended
// without a failure (what that means is each engine's rule) and 0 with the
// reason in the buffer (possibly empty) when it failed. Once the stop event
// is set an engine returns as soon as it can.
//
// The runner reaches the engines through an EngineTable, so tests can drive
// every state path with engines of their own. Nothing here knows a Workflow:
// status callbacks and the overlay fetch carry an opaque context.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "platform/event.h"
#include "video/overlay_settings.h"

struct HlsSegmentHistory;

constexpr size_t ENGINE_ERROR_SIZE = 512;

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
    void* context = nullptr;
    // The segments the run has recorded so far, kept by the runner across
    // its capture attempts: a live engine joins the source after them and
    // adds each segment it records. May be null.
    HlsSegmentHistory* recorded = nullptr;
};

using OverlayStreamEngine = int (*)(const std::string& source_url, const std::string& output_url,
                                    const std::string& recording_path, const OverlaySettings& settings,
                                    Event* stop_event, EngineStatusCallback status, void* context,
                                    const EngineHooks& hooks, std::span<char> error);
using HlsToRtmpEngine = int (*)(const std::string& source_url, const std::string& output_url,
                                const std::string& recording_path, Event* stop_event, EngineStatusCallback status,
                                void* context, const EngineHooks& hooks, std::span<char> error);
using HlsToTsRecorder = int (*)(const std::string& source_url, const std::string& recording_path, Event* stop_event,
                                EngineStatusCallback status, void* context, const EngineHooks& hooks,
                                std::span<char> error);
// `settings` is null for a plain packet-copy loop.
using Mp4LoopEngine = int (*)(const std::string& mp4_path, const std::string& output_url,
                              const OverlaySettings* settings, Event* stop_event, EngineStatusCallback status,
                              void* context, std::span<char> error);
using OverlayTsLoopEngine = int (*)(const std::string& recording_path, const std::string& output_url,
                                    const OverlaySettings& settings, Event* stop_event, EngineStatusCallback status,
                                    void* context, const EngineHooks& hooks, std::span<char> error);
using TsLoopPublisher = int (*)(const std::string& recording_path, const std::string& output_url, Event* stop_event,
                                EngineStatusCallback status, void* context, const EngineHooks& hooks,
                                std::span<char> error);

struct EngineTable {
    OverlayStreamEngine overlay_stream_engine;
    HlsToRtmpEngine hls_to_rtmp_engine;
    HlsToTsRecorder hls_to_ts_recorder;
    Mp4LoopEngine mp4_loop_engine;
    OverlayTsLoopEngine overlay_ts_loop_engine;
    TsLoopPublisher ts_loop_publisher;
};

// The engines built into this program.
[[nodiscard]] const EngineTable& default_engine_table();
