// What every publishing engine shares for one run: the RTMP publisher, the
// demultiplexer and packetizer feeding it, the TS recording, and the
// wall-clock pacing that releases each tag at its time.
//
//   segment bytes -> recording file (as received)
//                 -> TsDemuxer -> FlvPacketizer -> paced_send -> rtmp_send_media
//
// Timeline: one per connection, in signed 64-bit milliseconds, that never
// goes back and never stalls. A tag's place is its packetizer time plus
// `timestamp_offset`. When that place lies more than TIMELINE_JUMP_MS away
// from the highest timestamp sent (a source clock that jumped either way,
// a clock reset, a gap), or a discontinuity was announced, the offset is
// rebased so the tag lands TIMELINE_REBASE_GAP_MS after the highest
// timestamp sent; audio and video share the offset, so they stay in step.
// Within a stream a tag never goes below the last one of its kind. Loop
// engines raise `timestamp_offset` at each pass so the next pass continues
// the timeline. The wire carries the low 32 bits (RTMP's timestamps wrap).
//
// Pacing: the first tag of the run fixes `pacing_start`; from then on a tag
// at timeline place t is never sent before pacing_start + t - pacing_origin.
// Release times are rounded up to a grid of PACING_GATHER_MS from
// pacing_start, so the tags that fall due at one grid point are gathered
// (copied into `batch`) and written together, with one wake-up, when the
// next tag needs a wait, when PACING_BATCH_MAX are waiting, or at
// publish_flush (the end of each segment or pass). Waits go in slices of at
// most 100 ms on the stop event. There is no dropping, reordering or
// catching up.
//
// Recording: a failed write cuts the file back to its last whole segment,
// closes it and reports a notice; publishing goes on without it.
//
// Member order is teardown order reversed: the recording closes first, then
// the demuxer and packetizer go, and the publisher closes last.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engines/engine_contract.h"
#include "media/flv_packetizer.h"
#include "media/ts_demuxer.h"
#include "net/hls_downloader.h"
#include "platform/event.h"
#include "rtmp/rtmp_publisher.h"

constexpr uint32_t RTMP_OPEN_TIMEOUT_MS = 20000;
constexpr uint32_t PACING_SLICE_MS = 100;
// The release grid: a tag goes out at most this much after its due time.
constexpr uint64_t PACING_GATHER_MS = 40;
constexpr size_t PACING_BATCH_MAX = 16;
// A step of the timeline larger than this, either way, is a jump.
constexpr int64_t TIMELINE_JUMP_MS = 2000;
// Where a rebased tag lands after the highest timestamp sent: one frame.
constexpr int64_t TIMELINE_REBASE_GAP_MS = 33;

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Lateness of each tag against its due time, for measurements; engines
// record into it only when one is attached.
struct PacingStats {
    std::vector<uint32_t> lateness_ms;
    std::vector<uint8_t> tag_types;  // beside each lateness: 8 audio, 9 video
};

// A tag waiting in the batch: its body lies in batch_bytes at `offset`.
struct PendingTag {
    uint8_t type = 0;
    uint32_t wire_timestamp = 0;
    size_t offset = 0;
    size_t size = 0;
};

struct PublishContext {
    RtmpPublisherPtr publisher;
    FlvPacketizerPtr packetizer;
    TsDemuxerPtr demuxer;
    FilePtr recording;
    Event* stop_event = nullptr;
    uint64_t pacing_start = 0;
    bool pacing_started = false;
    int64_t timestamp_offset = 0;
    int64_t highest_timestamp = 0;
    // The timestamp that falls due at pacing_start: 0, unless a run starts
    // with an offset already on its timeline.
    int64_t pacing_origin = 0;
    int64_t last_audio_timestamp = 0;
    int64_t last_video_timestamp = 0;
    bool timeline_started = false;  // a tag has been placed
    bool rebase_pending = false;    // the next tag starts a new source clock
    uint64_t rebases = 0;
    uint64_t tags_sent = 0;
    std::vector<PendingTag> batch;
    std::vector<uint8_t> batch_bytes;
    std::string recording_path;
    uint64_t recording_size = 0;            // bytes of whole segments written
    HlsSegmentHistory* recorded = nullptr;  // the run's recorded segments, when kept
    PacingStats* stats = nullptr;
    // Problems the run survives (the recording stopped, damaged bytes
    // skipped): logged and shown to the user by whoever set it.
    void (*notice)(void* context, const char* text) = nullptr;
    void* notice_context = nullptr;
};

// Ties the context to its run: the stop event, the pacing statistics and
// the runner's hooks (notices, the segments the run has recorded).
void publish_context_bind(PublishContext& context, const EngineRun& run);

// The timeline place of a tag of `type` at packetizer time `source_ms`
// (see above); updates the offset, the per-kind floors and the highest
// timestamp.
[[nodiscard]] int64_t timeline_place(PublishContext& context, uint8_t type, int64_t source_ms);

// Reports a survived problem through the context's notice, when set.
void publish_notice(const PublishContext& context, const char* text);

// Reports the bytes the demuxer skipped since the last report, if any.
void publish_report_damage(PublishContext& context);

// Opens the recording at `path` for appending (each capture attempt of a run
// adds to the run's one recording); false when it cannot be opened.
[[nodiscard]] bool publish_open_recording(PublishContext& context, const std::string& path);

// FlvTagCallback for a PublishContext: waits for the tag's release time,
// then gathers it into the batch (see above). 0 when the stop event came
// first or writing the batch failed.
int paced_send(void* context, const FlvTag& tag);

// Writes the gathered tags now; false when the write failed.
[[nodiscard]] bool publish_flush(PublishContext& context);

// A fresh packetizer (feeding paced_send) and demuxer (feeding the
// packetizer) for the context; false when either cannot be created.
[[nodiscard]] bool publish_context_start_media(PublishContext& context);

// Appends one segment to the recording when one is open, and `label` to the
// run's recorded segments when they are kept; a failed write stops the
// recording (cut back to its last whole segment, with a notice), never the
// stream.
void publish_record_segment(PublishContext& context, std::span<const uint8_t> segment, const SegmentLabel& label = {});

// Appends one segment to the recording (when open; a failed write stops the
// recording only), then demultiplexes and publishes it, flushing the demuxer
// so its last frame goes out now. A segment that opens a discontinuity
// (`label`) rebases the timeline at its first tag. Done, stopped (a stop made
// it fail), or failed with "MPEG-TS processing failed" (unless a lower layer
// already wrote a text).
[[nodiscard]] EngineResult publish_segment(PublishContext& context, std::span<const uint8_t> segment,
                                           std::span<char> error, const SegmentLabel& label = {});

// True when the context's stop event is set.
[[nodiscard]] bool publish_stopped(const PublishContext& context);

// What a step that went wrong means for the run: stopped when the stop event
// made it fail, else failed.
[[nodiscard]] EngineResult publish_failure(const PublishContext& context);

// A checked UTF-8 copy of a URL or path; nothing when it is empty or not
// valid UTF-8.
[[nodiscard]] std::optional<std::string> to_utf8(std::string_view text);
