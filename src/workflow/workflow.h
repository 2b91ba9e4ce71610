// Workflow: one saved restream job together with the status of its current run.
//
// Settings (name .. fallback_transcoding) are written only on the main thread
// (editor, loader, save-time clean-up) and always under `lock`; a runner
// copies what it needs under the same lock (workflow_settings_copy), so it
// never sees a field half replaced. Status fields are shared with the runner
// thread: `state`, `stop_requested` and `revision` are atomics, the texts
// `current_operation` and `last_error` live under `lock`.
//
// Texts are UTF-8 with capacities counted in UTF-16 units, terminator
// included, as the saved file and the window's controls count them.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engines/engine_contract.h"
#include "platform/time/event.h"

struct RunContext;  // run control's context; opaque to this layer
struct RunnerThread;

// Frees run control's handle on a runner; defined with run control (run/),
// which alone knows what a runner holds.
struct RunnerThreadDeleter {
    void operator()(RunnerThread* runner) const;
};

// The numbers are those config.tsv stores. A hand-edited file may hold any
// other number; it is kept as it is (and saved back unchanged): such a type
// lists and runs as a Direct Restream-like capture, such a source type as a
// direct URL.
enum class WorkflowType : int32_t { overlay_stream = 1, record_then_push = 2, direct_restream = 3, mp4_loop = 4 };
enum class SourceType : int32_t { youtube = 1, direct = 2 };

enum class WorkflowState : uint32_t {
    stopped = 0,
    starting = 1,
    resolving = 2,
    waiting = 3,
    recording = 4,
    live_ended = 5,
    starting_playback = 6,
    playing = 7,
    streaming = 8,
    reconnecting = 9,
    completed = 10,
    error = 11,
};

// Capacities in UTF-16 units, terminator included.
constexpr size_t NAME_CAPACITY = 128;
constexpr size_t URL_CAPACITY = 2048;
constexpr size_t OVERLAY_TEXT_CAPACITY = 512;
constexpr size_t ENCODER_CAPACITY = 32;
constexpr size_t BITRATE_CAPACITY = 32;
constexpr size_t AUDIO_CODEC_CAPACITY = 16;
constexpr size_t PATH_CAPACITY = 260;
constexpr size_t OPERATION_CAPACITY = 256;
constexpr size_t LAST_ERROR_CAPACITY = 512;

// True when `path` fits PATH_CAPACITY. A longer path is refused, never cut:
// a cut path names another file (the configuration instead of its
// temporary file, one recording for two workflows).
[[nodiscard]] bool path_fits(std::string_view path);

// A workflow publishes to its output URL and up to MAX_OUTPUTS - 1 more,
// each of which the user can switch off without losing it.
constexpr size_t MAX_OUTPUTS = 8;
struct ExtraOutput {
    std::string url;
    bool enabled = true;
    bool operator==(const ExtraOutput&) const = default;
};

// The user's settings of a workflow: what the editor edits and config.tsv stores.
struct WorkflowSettings {
    std::string name;
    WorkflowType type = WorkflowType::direct_restream;
    SourceType source_type = SourceType::youtube;
    bool enabled = true;
    std::string source;
    std::string output_url;                  // output 1
    std::vector<ExtraOutput> extra_outputs;  // outputs 2 and on, in order
    bool image_enabled = false;
    std::string image_path;
    int32_t image_x_pct = 0;
    int32_t image_y_pct = 0;
    int32_t image_scale_pct = 100;
    bool text_enabled = false;
    std::string text;
    int32_t reserved = 0;
    int32_t text_bottom_pct = 0;
    int32_t font_size = 36;
    int32_t scroll_speed = 50;
    uint32_t text_color = 0xFFFFFF;
    uint32_t background_color = 0;
    std::string encoder = "Auto";
    std::string bitrate = "6000k";
    std::string audio_codec = "aac";
    std::string recording_dir;
    int32_t poll_seconds = 15;
    int32_t reconnects = 5;
    bool delete_after_push = false;
    bool prefer_stream_copy = true;
    bool fallback_transcoding = true;
};

// What was last told (a log line, a printed line) of one output, so that
// one failing the same way on every retry is told once: again when its
// error changes, or once it connected in between.
struct OutputTold {
    std::optional<OutputState> state;  // nothing told yet
    std::string error;                 // the failure told last since it connected
    bool retry_told = false;           // the first new attempt after it was told
};

// True when `status` is news to tell; `told` takes it in either way.
[[nodiscard]] bool output_status_news(OutputTold& told, const OutputStatus& status);

struct Workflow {
    uint32_t id = 0;
    RunContext* context = nullptr;  // the context that runs this record

    // Written under `lock`; read under it from other threads.
    WorkflowSettings settings;

    std::atomic<uint32_t> revision{0};
    std::atomic<uint32_t> state{static_cast<uint32_t>(WorkflowState::stopped)};
    std::atomic<uint32_t> stop_requested{0};
    std::unique_ptr<RunnerThread, RunnerThreadDeleter> thread;  // run control's handle on the current or last runner
    uint32_t process_id = 0;
    Event stop_event;
    std::atomic<uint64_t> start_tick{0};

    std::mutex lock;
    std::string current_operation;  // under lock
    std::string last_error;         // under lock
    uint64_t status_serial = 0;     // under lock: grows with every status set
    // A run with several outputs (under lock): each one's state and what its
    // log was last told; the state the run was in when the last connected
    // one failed, and the serial of the RECONNECTING that this set (0: none),
    // so only that one is ended when an output is back.
    std::vector<OutputStatus> outputs;
    std::map<size_t, OutputTold> outputs_told;
    WorkflowState outputs_phase = WorkflowState::streaming;
    uint64_t outputs_reconnecting_serial = 0;
    std::string log_path;  // the runner thread's (or the loader's) alone
    // The figures of the current or last run, made fresh by its runner
    // (under lock; readers keep a copy of the pointer while they read).
    std::shared_ptr<WorkflowHealth> health;
};

struct WorkflowList;
// A new record with the defaults, id = the list's next_id (which grows by
// one), the list's recordings folder and context; never null.
[[nodiscard]] Workflow* workflow_create(WorkflowList& list);

// Stops the run and frees the record through workflow_destroy, which run
// control defines (run/run_control.h): only it knows whether a runner that
// ignored its stop still uses the record.
struct WorkflowDestroyer {
    void operator()(Workflow* workflow) const;
};
using WorkflowPtr = std::unique_ptr<Workflow, WorkflowDestroyer>;

constexpr size_t MAX_WORKFLOWS = 1024;

// The saved list: its records in list order (at most MAX_WORKFLOWS, only
// ever changed on the main thread), the next id to hand out, the file it is
// saved in, the folder new records record into, and the context its
// records report to (set by the context that holds the list).
struct WorkflowList {
    std::vector<WorkflowPtr> workflows;
    uint32_t next_id = 1;
    std::string config_path;
    std::string recordings_dir;
    RunContext* context = nullptr;
};

// Display names.
[[nodiscard]] const char* workflow_state_name(uint32_t state);         // "UNKNOWN" above 11
[[nodiscard]] const char* workflow_type_list_name(WorkflowType type);  // "Overlay", ... ; "Direct" otherwise
[[nodiscard]] const char* workflow_type_editor_name(WorkflowType type);
[[nodiscard]] const char* workflow_source_column(WorkflowType type, SourceType source_type);

// The URLs a run publishes to after the output URL: every enabled extra output.
[[nodiscard]] std::vector<std::string> workflow_more_output_urls(const WorkflowSettings& settings);
// Where each output the run publishes to (the output URL, then the URLs
// above) stands among all the stored outputs, disabled ones counted: 1 is
// the output URL, 2 the first extra output. Outputs are shown and named by
// it (--disable-output 3), so a number never moves when another is disabled.
[[nodiscard]] std::vector<size_t> workflow_output_places(const WorkflowSettings& settings);

// The URL of output `number` as the run counts them (1 the output URL, then
// the extra outputs in stored order, disabled ones counted); "" past the last.
[[nodiscard]] std::string_view workflow_output_url(const WorkflowSettings& settings, size_t number);

// The state of each output of a run that has several that has reported
// one, by number (empty when the run has one output or none is running).
[[nodiscard]] std::vector<OutputStatus> workflow_output_statuses(Workflow& workflow);

// Consistent copies across threads.
[[nodiscard]] WorkflowSettings workflow_settings_copy(Workflow& workflow);
void workflow_settings_replace(Workflow& workflow, const WorkflowSettings& settings);
[[nodiscard]] std::string workflow_current_operation(Workflow& workflow);
[[nodiscard]] std::string workflow_last_error(Workflow& workflow);
void workflow_set_last_error(Workflow& workflow, std::string_view text);
[[nodiscard]] WorkflowState workflow_state(const Workflow& workflow);
