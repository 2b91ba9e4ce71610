// The runner thread.
//
//   STARTING -> capture loop --(engine ended well, recording usable)--> loop phase
//                  ^    |                                                  |  ^
//                  +----+ failure: RECONNECTING, 3 s pause                 +--+ every return: 3 s pause
//   stop at any point -> STOPPED ("Workflow stopped")
//   YouTube page not resolved (types other than Record then Push) -> ERROR, run ends,
//   unless the run has streamed already: then it is retried like a failed capture
//
// Every capture attempt of a run appends to one recording, so the loop that
// follows plays all of it, in order; the run keeps the segments recorded
// last, so the next attempt joins the source after them (nothing twice). While streaming, the live engine may
// ask for the YouTube page to be resolved again (its media URL expired) and
// reports problems it survives (a recording that stopped), which are
// logged and shown as the last error. A Direct Restream with several
// outputs keeps them connected from one attempt to the next.
//
// Settings are copied under the workflow's lock at the top of every capture
// pass, so an edit takes effect at the next pass and is never read half
// written. The stop flag is read before every step that can block and
// between the 100 ms slices of every pause.
#include "run/runner.h"

#include <array>

#include "engines/health.h"
#include "engines/publish_context.h"
#include "net/hls_downloader.h"
#include "platform/files/folders.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "run/engine_status.h"
#include "run/run_context.h"
#include "run/tools.h"
#include "run/workflow_log.h"
#include "workflow/workflow.h"

namespace {

constexpr const char* RECORDING_PATH_TOO_LONG =
    "The recording path would be longer than 259 characters; choose a shorter recording folder.";

using ErrorBuffer = std::array<char, ENGINE_ERROR_SIZE>;

bool stop_requested(const Workflow& workflow) {
    return workflow.stop_requested.load() != 0;
}

const EngineTable& engines(const Workflow& workflow) {
    return workflow.context && workflow.context->engines ? *workflow.context->engines : default_engine_table();
}

std::string_view error_text(const ErrorBuffer& buffer) {
    return std::string_view(buffer.data());
}

// RECONNECTING with `text`, then the 3 s pause; true when stop came meanwhile.
bool pause_before_retry(Workflow& workflow, const char* text) {
    health_source_retry(workflow.health.get());  // the runner thread is the one that sets it
    workflow_set_status(workflow, WorkflowState::reconnecting, text);
    return wait_or_stop(workflow, RESTART_PAUSE_MS);
}

bool capturable_source(const std::string& url) {
    return url.find('\n') == std::string::npos && (istarts_with(url, "https://") || istarts_with(url, "http://"));
}

bool usable_recording(const std::string& path) {
    return regular_file_size(path) > 0;
}

// One pass of the MP4 loop: stopped, or failed to mean "retry".
EngineResult mp4_pass(Workflow& workflow, const WorkflowSettings& s, const EngineRun& run, ErrorBuffer& error) {
    workflow_set_status(workflow, WorkflowState::streaming, "Starting continuous MP4 loop");
    error.fill(0);
    OverlaySettings overlay;
    const OverlaySettings* settings = nullptr;
    if (s.image_enabled || s.text_enabled) {
        fill_overlay_settings(&workflow, &overlay);
        settings = &overlay;
        log_workflow(workflow, "MP4 hardware-overlay loop starting");
    } else {
        log_workflow(workflow, "MP4 packet-copy loop starting (decoder and encoder bypassed)");
    }
    const Mp4LoopOptions options{.mp4_path = s.source,
                                 .output_url = s.output_url,
                                 .settings = settings,
                                 .more_output_urls = workflow_more_output_urls(s)};
    const EngineResult result = engines(workflow).mp4_loop_engine(options, run, error);
    workflow_clear_outputs(workflow);
    if (result != EngineResult::failed) return EngineResult::stopped;
    workflow_report_engine_error(workflow, error_text(error), "Native MP4 loop failed");
    if (stop_requested(workflow)) return EngineResult::stopped;
    return pause_before_retry(workflow, "Restarting MP4 loop after error") ? EngineResult::stopped
                                                                           : EngineResult::failed;
}

void on_engine_notice(void* context, const char* text) {
    auto& workflow = *static_cast<Workflow*>(context);
    workflow_set_last_error(workflow, utf16_fit(text ? text : "", ENGINE_TEXT_CAPACITY));
    log_workflow(workflow, "%s", text ? text : "");
}

bool resolve_again(void* context, std::string* url) {
    auto& workflow = *static_cast<Workflow*>(context);
    bool not_live = false;
    std::string why;
    bool ok = ytdlp_resolve(workflow, url, &not_live, &why);
    log_workflow(workflow, "YouTube source resolved again: %s", ok ? "fresh URL" : ("failed: " + why).c_str());
    return ok;
}

// What every engine of the workflow's run gets: its stop event, `on_status`
// with the workflow, and the hooks (the recorded segments only for capture).
EngineRun engine_run(Workflow& workflow, const WorkflowSettings& s, EngineStatusCallback on_status,
                     HlsSegmentHistory* recorded = nullptr, KeptOutputs* kept = nullptr) {
    EngineHooks hooks{.notice = on_engine_notice,
                      .output_status = on_output_status,
                      .context = &workflow,
                      .recorded = recorded,
                      .output_numbers = workflow_output_places(s),
                      .kept_outputs = kept};
    if (s.source_type == SourceType::youtube) hooks.resolve_source = resolve_again;
    return EngineRun{.stop_event = &workflow.stop_event,
                     .status = on_status,
                     .status_context = &workflow,
                     .hooks = hooks,
                     .health = workflow.health.get()};
}

// One capture attempt, as its engine is called.
struct CaptureAttempt {
    Workflow& workflow;
    const WorkflowSettings& s;
    const std::string& source_url;
    const std::string& recording_path;
    const EngineRun& run;
    ErrorBuffer& error;
};

EngineResult record_capture(CaptureAttempt& a) {
    log_workflow(a.workflow, "Native HLS to TS recording starting");
    return engines(a.workflow)
        .hls_to_ts_recorder({.source_url = a.source_url, .recording_path = a.recording_path}, a.run, a.error);
}

EngineResult restream_capture(CaptureAttempt& a) {
    log_workflow(a.workflow, "Native HLS/RTMP engine starting");
    const HlsToRtmpOptions options{.source_url = a.source_url,
                                   .output_url = a.s.output_url,
                                   .recording_path = a.recording_path,
                                   .more_output_urls = workflow_more_output_urls(a.s)};
    return engines(a.workflow).hls_to_rtmp_engine(options, a.run, a.error);
}

// The encoder is only known once the engine has opened it; the engine
// names it in its status, which is logged too.
EngineResult overlay_capture(CaptureAttempt& a) {
    OverlayStreamOptions options{.source_url = a.source_url,
                                 .output_url = a.s.output_url,
                                 .recording_path = a.recording_path,
                                 .settings = {},
                                 .more_output_urls = workflow_more_output_urls(a.s)};
    fill_overlay_settings(&a.workflow, &options.settings);
    log_workflow(a.workflow, "H.264 decode, overlay and encode starting (encoder: %s)",
                 options.settings.encoder.c_str());
    return engines(a.workflow).overlay_stream_engine(options, a.run, a.error);
}

// Each capture type: the state and text it starts with, the status callback
// its engine reports through, and how its failure is told (null: the
// engine's text as it is, the runner's own conversion).
struct CaptureKind {
    WorkflowType type;
    WorkflowState state;
    const char* status_text;
    EngineStatusCallback on_status;
    const char* failure_prefix;
    EngineResult (*call)(CaptureAttempt& attempt);
};

constexpr CaptureKind CAPTURE_KINDS[] = {
    {WorkflowType::record_then_push, WorkflowState::recording, "Recording live source", on_engine_recording,
     "Native recording failed", record_capture},
    {WorkflowType::direct_restream, WorkflowState::resolving, "Connecting native RTMP/RTMPS publisher",
     on_engine_streaming, nullptr, restream_capture},
    {WorkflowType::overlay_stream, WorkflowState::streaming, "Overlay streaming and recording",
     on_engine_streaming_logged, "Overlay streaming failed", overlay_capture},
};

const CaptureKind& capture_kind(WorkflowType type) {
    for (const CaptureKind& kind : CAPTURE_KINDS) {
        if (kind.type == type) return kind;
    }
    return CAPTURE_KINDS[std::size(CAPTURE_KINDS) - 1];
}

// Calls the capture engine for the workflow's type; the engine's result.
// Only the live copy keeps its outputs connected from one attempt to the
// next (in `kept`): the others start theirs afresh, so what is kept goes.
EngineResult capture(Workflow& workflow, const WorkflowSettings& s, const std::string& source_url,
                     const std::string& recording_path, HlsSegmentHistory* recorded, KeptOutputs& kept,
                     ErrorBuffer& error) {
    if (!capturable_source(source_url)) return EngineResult::failed;
    error.fill(0);
    const CaptureKind& kind = capture_kind(s.type);
    const bool keeps = kind.type == WorkflowType::direct_restream;
    if (!keeps) kept = KeptOutputs{};
    workflow_set_status(workflow, kind.state, kind.status_text);
    const EngineRun run = engine_run(workflow, s, kind.on_status, recorded, keeps ? &kept : nullptr);
    CaptureAttempt attempt{workflow, s, source_url, recording_path, run, error};
    EngineResult result = kind.call(attempt);
    if (kept.output.links.empty()) workflow_clear_outputs(workflow);
    if (result != EngineResult::failed) return result;
    if (kind.failure_prefix) {
        workflow_report_engine_error(workflow, error_text(error), kind.failure_prefix);
        return result;
    }
    std::string text = utf16_fit(error_text(error), ENGINE_TEXT_CAPACITY);
    workflow_set_last_error(workflow, text);
    log_workflow(workflow, "Native engine failed: %s", text.c_str());
    return result;
}

enum class Resolution { use_url, wait, fail };

Resolution resolve_source(Workflow& workflow, const WorkflowSettings& s, std::string* source_url, std::string* why) {
    if (s.source_type != SourceType::youtube) {
        *source_url = s.source;
        return Resolution::use_url;
    }
    bool not_live = false;
    bool ok = ytdlp_resolve(workflow, source_url, &not_live, why);
    bool record_then_push = s.type == WorkflowType::record_then_push;
    if (ok && (!record_then_push || !not_live)) return Resolution::use_url;
    source_url->clear();
    return record_then_push ? Resolution::wait : Resolution::fail;
}

bool streaming_now(const Workflow& workflow) {
    return workflow.state.load() == static_cast<uint32_t>(WorkflowState::streaming);
}

// Repeats capture attempts until one leaves a usable recording (done), a
// stop (stopped) or a failed resolution before anything streamed (failed).
EngineResult capture_loop(Workflow& workflow, std::string* recording_path) {
    ErrorBuffer error{};
    bool streamed = false;
    HlsSegmentHistory recorded;
    KeptOutputs kept;  // outputs that stay connected through a source retry
    for (;;) {
        if (stop_requested(workflow)) return EngineResult::stopped;
        WorkflowSettings s = workflow_settings_copy(workflow);
        if (s.type == WorkflowType::mp4_loop) {
            kept = KeptOutputs{};
            const EngineRun run = engine_run(workflow, s, on_engine_streaming);
            if (mp4_pass(workflow, s, run, error) == EngineResult::stopped) return EngineResult::stopped;
            continue;
        }
        workflow_set_status(workflow, WorkflowState::resolving, "Resolving source");
        std::string source_url, why;
        Resolution resolution = resolve_source(workflow, s, &source_url, &why);
        if (resolution == Resolution::fail) workflow_set_last_error(workflow, "Source resolution failed: " + why);
        if (resolution == Resolution::fail && streamed) {
            log_workflow(workflow, "Source resolution failed after streaming (%s); retrying", why.c_str());
            if (pause_before_retry(workflow, "Restarting source after error")) return EngineResult::stopped;
            continue;
        }
        if (resolution == Resolution::fail) {
            log_workflow(workflow, "Source resolution failed: %s", why.c_str());
            workflow_set_status(workflow, WorkflowState::error, "Source resolution failed");
            log_workflow(workflow, "Workflow ended state=%s", workflow_state_name(workflow.state.load()));
            return EngineResult::failed;
        }
        if (resolution == Resolution::wait) {
            workflow_set_status(workflow, WorkflowState::waiting, "Waiting for YouTube live");
            if (wait_or_stop(workflow, static_cast<uint32_t>(s.poll_seconds) * 1000u)) return EngineResult::stopped;
            continue;
        }
        if (recording_path->empty()) *recording_path = recording_path_for(s.recording_dir, workflow.id);
        if (recording_path->empty()) {
            workflow_set_last_error(workflow, RECORDING_PATH_TOO_LONG);
            log_workflow(workflow, "%s", RECORDING_PATH_TOO_LONG);
            if (pause_before_retry(workflow, "Restarting source after error")) return EngineResult::stopped;
            continue;
        }
        EngineResult result = capture(workflow, s, source_url, *recording_path, &recorded, kept, error);
        streamed = streamed || streaming_now(workflow);
        if (stop_requested(workflow)) return EngineResult::stopped;
        if (result != EngineResult::failed && usable_recording(*recording_path)) return EngineResult::done;
        if (result != EngineResult::failed) {
            log_workflow(workflow, "Capture ended without a usable recording, success=%d; restarting", 1);
        } else {
            log_workflow(workflow, "Capture failed; restarting source automatically");
        }
        if (pause_before_retry(workflow, "Restarting source after error")) return EngineResult::stopped;
    }
}

// One call of the loop engine for the workflow's type; a failure is reported.
void play_recording(Workflow& workflow, const WorkflowSettings& s, const std::string& recording_path,
                    ErrorBuffer& error) {
    EngineResult result = EngineResult::failed;
    const char* failure = "Native loop publisher failed";
    if (s.type == WorkflowType::overlay_stream) {
        OverlayTsLoopOptions options{.recording_path = recording_path,
                                     .output_url = s.output_url,
                                     .settings = {},
                                     .more_output_urls = workflow_more_output_urls(s)};
        fill_overlay_settings(&workflow, &options.settings);
        log_workflow(workflow, "TS overlay loop starting (encoder: %s)", options.settings.encoder.c_str());
        result = engines(workflow).overlay_ts_loop_engine(options, engine_run(workflow, s, on_engine_streaming_logged),
                                                          error);
        failure = "Overlay loop failed";
    } else {
        log_workflow(workflow, "Native TS to RTMP continuous loop starting");
        const TsLoopOptions options{.recording_path = recording_path,
                                    .output_url = s.output_url,
                                    .initial_timestamp = 0,
                                    .more_output_urls = workflow_more_output_urls(s)};
        result = engines(workflow).ts_loop_publisher(options, engine_run(workflow, s, on_engine_streaming), error);
    }
    workflow_clear_outputs(workflow);
    if (result == EngineResult::failed) workflow_report_engine_error(workflow, error_text(error), failure);
}

// Loops the recording until stopped.
void loop_phase(Workflow& workflow, const std::string& recording_path) {
    ErrorBuffer error{};
    workflow_set_status(workflow, WorkflowState::live_ended, "Source ended; TS recording ready");
    workflow_set_status(workflow, WorkflowState::starting_playback, "Starting native continuous TS loop");
    for (;;) {
        workflow_set_status(workflow, WorkflowState::playing, "Looping TS recording continuously");
        error.fill(0);
        play_recording(workflow, workflow_settings_copy(workflow), recording_path, error);
        if (stop_requested(workflow)) return;
        workflow_set_status(workflow, WorkflowState::reconnecting, "Restarting loop after playback error");
        log_workflow(workflow, "Loop playback stopped; restarting automatically");
        if (wait_or_stop(workflow, RESTART_PAUSE_MS)) return;
    }
}

}  // namespace

bool wait_or_stop(Workflow& workflow, uint32_t ms) {
    uint32_t waited = 0;
    while (waited < ms) {
        if (stop_requested(workflow)) return true;
        // Stop raises the flag before it signals the event, so waking early
        // on the event still finds the flag set at the next check.
        (void)workflow.stop_event.wait_ms(std::min(ms - waited, WAIT_SLICE_MS));
        waited = ms - waited < WAIT_SLICE_MS ? ms : waited + WAIT_SLICE_MS;
    }
    return false;
}

std::string recording_path_for(const std::string& recording_dir, uint32_t id) {
    LocalTime now = local_time_now();
    std::string path = string_printf("%s/workflow-%u-%04u%02u%02u-%02u%02u%02u.ts", recording_dir.c_str(), id, now.year,
                                     now.month, now.day, now.hour, now.minute, now.second);
    return path_fits(path) ? path : std::string();
}

std::shared_ptr<const WorkflowHealth> workflow_health(Workflow& workflow) {
    std::lock_guard guard(workflow.lock);
    return workflow.health;
}

int workflow_runner(Workflow& workflow) {
    workflow_set_status(workflow, WorkflowState::starting, "Starting");
    workflow.start_tick = tick_ms();
    workflow_clear_outputs(workflow, true);
    auto health = std::make_shared<WorkflowHealth>();
    health->started_ms.store(workflow.start_tick.load());
    {
        std::lock_guard guard(workflow.lock);
        workflow.health = std::move(health);
    }
    log_workflow(workflow, "Workflow started");
    std::string recording_path;
    EngineResult end = capture_loop(workflow, &recording_path);
    workflow_clear_outputs(workflow);  // those it kept are gone with it
    if (end == EngineResult::done) {
        loop_phase(workflow, recording_path);
        end = EngineResult::stopped;
    }
    if (end == EngineResult::stopped) {
        workflow_set_status(workflow, WorkflowState::stopped, "Stopped");
        log_workflow(workflow, "Workflow stopped");
    }
    return 0;
}
