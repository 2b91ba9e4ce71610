// What every publishing engine holds for one run, as named parts with their
// own verbs: the output (engines/publish_output.h), the demultiplexer and
// packetizer feeding it, the recording (engines/recording.h), the timeline
// (engines/timeline.h) and the pacer (engines/pacer.h).
//
//   segment bytes -> recording (as received)
//                 -> TsDemuxer -> FlvPacketizer -> paced_send
//                    -> timeline place -> pacer (wait, gather) -> output batch
//
// The media chain only ever reaches the output through publish_flush, so
// where the batches go is the output's business alone. The wire carries the
// low 32 bits of a timeline place (RTMP's timestamps wrap). A failed
// recording write stops the recording (cut back to its last whole segment)
// with a notice; publishing goes on without it.
//
// Member order is teardown order reversed: the recording closes first, then
// the demuxer and packetizer go, and the output closes last.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engines/engine_contract.h"
#include "engines/health.h"
#include "engines/pacer.h"
#include "engines/publish_output.h"
#include "engines/recording.h"
#include "engines/timeline.h"
#include "media/flv_packetizer.h"
#include "media/ts_demuxer.h"

struct PublishContext {
    PublishOutput output;
    FlvPacketizerPtr packetizer;
    TsDemuxerPtr demuxer;
    Recording recording;
    Timeline timeline;
    Pacer pacer;
    // Problems the run survives (the recording stopped, damaged bytes
    // skipped) go to its notice hook; null in a context of its own.
    const EngineRun* run = nullptr;
    WorkflowHealth* health = nullptr;  // the run's figures; may be null
};

// Ties the context to its run: the stop event and statistics to the pacer,
// the run's recorded segments to the recording, the notices to its hooks.
void publish_context_bind(PublishContext& context, const EngineRun& run);

// Reports a survived problem through the run's notice hook, when set.
void publish_notice(const PublishContext& context, const char* text);

// Reports the bytes the demuxer skipped since the last report, if any.
void publish_report_damage(PublishContext& context);

// FlvTagCallback for a PublishContext: places the tag on the timeline, waits
// for its release time, then gathers it into the pacer's batch. 0 when the
// stop event came first or writing the batch failed.
int paced_send(void* context, const FlvTag& tag);

// Writes the gathered tags to the output now; false when the write failed.
[[nodiscard]] bool publish_flush(PublishContext& context);

// A fresh packetizer (feeding paced_send) and demuxer (feeding the
// packetizer) for the context; false when either cannot be created.
[[nodiscard]] bool publish_context_start_media(PublishContext& context);

// Appends one segment to the recording when one is open (and `label` to the
// run's recorded segments); a failed write stops the recording with a
// notice, never the stream.
void publish_record_segment(PublishContext& context, std::span<const uint8_t> segment, const SegmentLabel& label = {});

// Records the segment (see above), then demultiplexes and publishes it,
// flushing the demuxer so its last frame goes out now. A segment that opens
// a discontinuity (`label`) rebases the timeline at its first tag. Done,
// stopped (a stop made it fail), or failed with "MPEG-TS processing failed"
// (unless a lower layer already wrote a text).
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

// Checked copies of the first output URL and the ones after it, in order;
// nothing when any is empty or not valid UTF-8.
[[nodiscard]] std::optional<std::vector<std::string>> output_urls_utf8(std::string_view first,
                                                                       const std::vector<std::string>& more);

// A run's outputs kept from one attempt of a live engine to the next, with
// the URLs and numbers they publish under and the timeline they were fed.
// Only several outputs are kept: each fails and reconnects on its own, so
// none of them made the attempt fail.
struct KeptOutputs {
    std::vector<std::string> urls;
    std::vector<size_t> numbers;
    PublishOutput output;
    Timeline timeline;
};

// Opens the run's outputs (see output_open), their state changes told to
// the run's output hook; false with the reason in `error`. Outputs the
// run's last attempt kept for the same URLs and numbers are taken over
// instead: the timeline goes on one frame above their last tag, and new
// sequence headers make them join again. Kept outputs that differ are closed.
[[nodiscard]] bool publish_open_outputs(PublishContext& context, std::span<const std::string> urls,
                                        std::span<char> error);

// Leaves the context's outputs (`urls`) to the run's next attempt, when the
// run keeps them and there are several.
void publish_keep_outputs(PublishContext& context, std::span<const std::string> urls);
