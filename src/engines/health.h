// The figures a running workflow keeps about itself, for whoever shows its
// health (the headless run's status file, later a metrics endpoint and the
// desktop's details): what the source delivers, what the media is as sent,
// how each output, the recording and the encoder are doing.
//
// Cost: figures are counted where the data passes anyway, with relaxed
// atomics and no lock, so a reader never slows a stream. Each field group
// has one writing thread: the engine thread writes the source, media,
// recording and encoder figures and those of a run's one output; each output
// link's thread writes its own output's, except its queue figures, which
// both the engine thread and the link thread write under the link's lock.
// Readers copy a HealthSnapshot from any thread: figures may be a moment
// apart from one another, never torn. The three texts (an output's last
// error, the recording file, the encoder's name) change rarely and sit
// behind a lock of their own.
//
// Windows are wall-clock seconds on the tick clock: a slot per second,
// stamped with the second it holds, so a slot of an old second reads as
// empty and is zeroed by the writer when it comes round again.
//
// One WorkflowHealth per run, made fresh by the runner (so nothing needs
// resetting) and shared with the readers, who keep it alive while they read.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engines/engine_contract.h"
#include "media/flv_packetizer.h"

constexpr uint64_t HEALTH_RATE_SECONDS = 10;  // bitrate and frame-rate window
constexpr uint64_t HEALTH_PEAK_SECONDS = 60;  // longest key-frame gap, queue peak, lateness
constexpr size_t HEALTH_MAX_OUTPUTS = 8;
// Lateness histogram: a count per bucket, bucket b holding up to
// HEALTH_LATENESS_EDGES[b] ms; the last one everything above.
constexpr std::array<uint64_t, 16> HEALTH_LATENESS_EDGES = {0,   5,   10,  20,  40,   60,   80,   120,
                                                            160, 250, 400, 600, 1000, 1600, 2500, 4000};
constexpr uint64_t HEALTH_LATENESS_PERIOD_S = 10;  // the lateness window moves in steps of this
// Where a figure tells of trouble a viewer would see, for whoever warns of
// it: key frames further apart than this (players join late), no source data
// for this long, an output sending later than this (p99).
constexpr int64_t HEALTH_KEY_WARN_MS = 4000;
constexpr int64_t HEALTH_QUIET_WARN_MS = 5000;
constexpr int64_t HEALTH_LATE_WARN_MS = 1000;

using HealthCounter = std::atomic<uint64_t>;

// One value per second: `stamp` is the second it belongs to, plus one.
template <size_t Slots>
struct HealthSeconds {
    std::array<HealthCounter, Slots> stamp{};
    std::array<HealthCounter, Slots> value{};
};

// Amounts per second over the last complete HEALTH_RATE_SECONDS.
struct RateWindow {
    HealthSeconds<HEALTH_RATE_SECONDS + 1> seconds;
    HealthCounter first_second{0};  // plus one; 0 until the first amount
};

// The largest value noted in each of the last HEALTH_PEAK_SECONDS.
struct PeakWindow {
    HealthSeconds<HEALTH_PEAK_SECONDS + 1> seconds;
};

// Lateness counts per bucket, per period of HEALTH_LATENESS_PERIOD_S.
struct LatenessWindow {
    static constexpr size_t PERIODS = HEALTH_PEAK_SECONDS / HEALTH_LATENESS_PERIOD_S + 1;
    std::array<HealthCounter, PERIODS> stamp{};
    std::array<std::array<HealthCounter, HEALTH_LATENESS_EDGES.size() + 1>, PERIODS> counts{};
    PeakWindow peak;  // bounds a percentile by what was really seen
};

// A text written rarely, read once a second.
struct HealthText {
    mutable std::mutex lock;
    std::string text;  // under lock
};

struct SourceHealth {
    RateWindow input;                     // segment bytes taken from the source
    HealthCounter segments{0};            // segments taken
    HealthCounter failures{0};            // segment fetches that failed (retried or given up)
    HealthCounter last_segment_ms{0};     // tick of the last segment taken; 0 none yet
    std::atomic<int64_t> latency_ms{-1};  // newest listed segment ahead of the one published; -1 unknown
    HealthCounter retries{0};             // capture retries and source re-resolutions
    // The engine thread's own: the ring whose failures were counted last.
    const void* counted_ring = nullptr;
    uint64_t counted_ring_failures = 0;
};

struct MediaHealth {
    std::atomic<uint32_t> video_codec{0};  // FLV codec id (7 = H.264); 0 none seen
    std::atomic<uint32_t> profile_idc{0}, constraint_flags{0}, level_idc{0}, width{0}, height{0};
    std::atomic<uint32_t> rate_num{0}, rate_den{0};  // from the SPS timing; 0 when it has none
    RateWindow video_frames;                         // frames sent, for a measured rate
    std::atomic<int64_t> key_interval_ms{-1};        // between the last two key frames
    PeakWindow key_interval_peak;
    std::atomic<uint32_t> audio_codec{0};  // FLV sound format (10 = AAC); 0 none seen
    std::atomic<uint32_t> audio_rate{0}, audio_channels{0};
    std::atomic<int64_t> av_offset_ms{0};  // last audio time minus last video time, as sent
    // The engine thread's own.
    int64_t last_key_place = -1, last_video_place = -1, last_audio_place = -1;
};

// The state word of an output slot: 0 while the run has no such output.
constexpr uint32_t HEALTH_OUTPUT_UNUSED = 0;

struct OutputHealth {
    std::atomic<uint32_t> state{HEALTH_OUTPUT_UNUSED};  // OutputState + 1
    HealthCounter connected_since_ms{0};                // tick; 0 while not connected
    HealthCounter connections{0};                       // reconnects = connections - 1
    HealthCounter bytes{0};
    RateWindow sent;
    HealthText last_error;
    HealthCounter queue_messages{0}, queue_bytes{0}, queue_ms{0};
    PeakWindow queue_peak_ms;
    LatenessWindow lateness;  // how long after its due time each message went out
};

struct RecordingHealth {
    HealthText file;
    HealthCounter bytes{0};
    HealthCounter write_failures{0};
};

struct EncoderHealth {
    HealthText name;
    HealthCounter frames{0};
    HealthCounter busy_us{0};  // time in decode, paint and encode, for the time per frame
};

struct WorkflowHealth {
    HealthCounter started_ms{0};  // tick the run began
    SourceHealth source;
    MediaHealth media;
    std::array<OutputHealth, HEALTH_MAX_OUTPUTS> outputs;
    RecordingHealth recording;
    EncoderHealth encoder;
};

// ---- windows (`now_ms` is the tick clock; tests give their own) ----

void rate_window_add(RateWindow& window, uint64_t now_ms, uint64_t amount);
// The mean per second over the complete seconds of the window since the
// first amount (up to HEALTH_RATE_SECONDS); 0 before one second is complete.
[[nodiscard]] double rate_window_per_second(const RateWindow& window, uint64_t now_ms);

void peak_window_note(PeakWindow& window, uint64_t now_ms, uint64_t value);
// The largest value of the last HEALTH_PEAK_SECONDS (the current one included); 0 when none.
[[nodiscard]] uint64_t peak_window_max(const PeakWindow& window, uint64_t now_ms);

void lateness_note(LatenessWindow& window, uint64_t now_ms, uint64_t lateness_ms);
// The `percent` percentile of the lateness noted in about the last
// HEALTH_PEAK_SECONDS, as its bucket's upper edge (never above the largest
// seen); -1 when nothing was noted.
[[nodiscard]] int64_t lateness_percentile(const LatenessWindow& window, uint64_t now_ms, unsigned percent);

void health_text_set(HealthText& text, std::string_view value);
[[nodiscard]] std::string health_text_get(const HealthText& text);

// ---- feeding (every function accepts a null record and then does nothing) ----

// A segment taken from the source: its size, how many seconds of listed
// media lie ahead of it (-1 unknown), and the fetch failures its ring has
// counted so far (`ring` tells one ring from the next).
void health_source_segment(WorkflowHealth* health, uint64_t now_ms, size_t bytes, int64_t latency_ms, const void* ring,
                           uint64_t ring_failures);
void health_source_retry(WorkflowHealth* health);

// A tag on its way out at timeline place `place_ms`: codecs and parameters
// from the sequence headers, frame and key-frame figures, the A/V offset.
void health_media_tag(WorkflowHealth* health, uint64_t now_ms, const FlvTag& tag, int64_t place_ms);

// Output `number` (1 is the first) of the run, or null when there is no
// such slot.
[[nodiscard]] OutputHealth* health_output(WorkflowHealth* health, size_t number);
// A state change; `error` (never holding the URL) is kept when not empty.
void health_output_state(OutputHealth* output, uint64_t now_ms, OutputState state, std::string_view error = {});
// The engine returned: every output the run had is down until the next call opens it again.
void health_outputs_closed(WorkflowHealth* health, uint64_t now_ms);
void health_output_sent(OutputHealth* output, uint64_t now_ms, uint64_t bytes);
void health_output_lateness(OutputHealth* output, uint64_t now_ms, uint64_t lateness_ms);
void health_output_queue(OutputHealth* output, uint64_t now_ms, uint64_t messages, uint64_t bytes, uint64_t span_ms);

void health_recording_file(WorkflowHealth* health, std::string_view path);
void health_recording_written(WorkflowHealth* health, uint64_t bytes);
void health_recording_failed(WorkflowHealth* health);

void health_encoder_name(WorkflowHealth* health, std::string_view name);
void health_encoder_busy(WorkflowHealth* health, uint64_t frames, uint64_t busy_us);

// ---- reading ----

struct OutputSnapshot {
    size_t number = 0;
    OutputState state = OutputState::connecting;
    int64_t connected_for_ms = -1;  // -1 while not connected
    uint64_t reconnects = 0;
    uint64_t bytes = 0;
    double bitrate = 0;  // bits per second, last 10 s
    std::string last_error;
    uint64_t queue_messages = 0, queue_bytes = 0, queue_ms = 0, queue_peak_ms = 0;
    int64_t lateness_p50_ms = -1, lateness_p99_ms = -1;
};

struct HealthSnapshot {
    uint64_t uptime_ms = 0;
    // source
    double input_bitrate = 0;
    uint64_t segments = 0, segment_failures = 0, source_retries = 0;
    int64_t last_segment_age_ms = -1;  // -1 none yet
    int64_t latency_ms = -1;
    // media; texts empty while unknown
    std::string video_codec, video_profile;
    uint32_t video_level = 0;  // ten times the level
    uint32_t width = 0, height = 0;
    double frame_rate = 0;  // declared by the SPS, else measured
    int64_t key_interval_ms = -1;
    uint64_t key_interval_longest_ms = 0;
    std::string audio_codec;
    uint32_t audio_rate = 0, audio_channels = 0;
    int64_t av_offset_ms = 0;
    std::vector<OutputSnapshot> outputs;  // the run's outputs, in order
    std::string recording_file;
    uint64_t recording_bytes = 0, recording_write_failures = 0;
    std::string encoder;
    uint64_t frames_encoded = 0;
    double encode_ms_per_frame = 0;
};

[[nodiscard]] HealthSnapshot health_snapshot(const WorkflowHealth& health, uint64_t now_ms);
