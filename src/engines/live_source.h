// What every live engine shares around its own work: the frame of a run
// (error buffer cleared, both URLs checked, the buffer cleared again on
// success), and the start: the downloader started on its ring, then the
// wait for the first segment, before anything else is touched (so a source
// that never delivers never reaches the server or the recording).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engines/engine_contract.h"
#include "engines/publish_context.h"
#include "net/segment_ring.h"
#include "platform/text/error_text.h"

// Clears the error buffer, converts the URLs (failed with "URL conversion
// failed" when any is not UTF-8 or empty), runs `body(source, outputs)`
// and returns its result, clearing the buffer again unless it failed.
template <typename Body>
EngineResult live_engine_frame(std::string_view source_url, std::string_view output_url,
                               const std::vector<std::string>& more_output_urls, std::span<char> error, Body&& body) {
    error_clear(error);
    std::optional<std::string> source = to_utf8(source_url);
    std::optional<std::vector<std::string>> outputs = output_urls_utf8(output_url, more_output_urls);
    if (!source || !outputs) {
        error_printf(error, "%s", "URL conversion failed");
        return EngineResult::failed;
    }
    EngineResult result = body(*source, *outputs);
    if (result != EngineResult::failed) error_clear(error);
    return result;
}

// Starts the downloader for `source` into `ring` (joining after the run's
// recorded segments, when the context keeps them) and takes the first segment
// into `segment` with its label. Nothing once it is in hand; otherwise the
// engine's result: failed with "HLS downloader thread failed", the ring's
// error text or "HLS source ended before a segment was downloaded"; stopped
// when the stop came first; done when the source ended with nothing the run
// had not recorded. Then opens the outputs into the context: failed when
// that fails (the publisher's error text), stopped when the stop came first.
[[nodiscard]] std::optional<EngineResult> live_source_start(SegmentRingPtr& ring, const std::string& source,
                                                            std::span<const std::string> outputs,
                                                            PublishContext& context, ByteBuffer* segment,
                                                            SegmentLabel* label, std::span<char> error);

// Counts a segment just taken from `ring` into the run's source figures:
// its bytes, the fetch failures, and how far behind the live edge it is
// (the segments listed after it, at the playlist's target duration each).
void live_source_note(WorkflowHealth* health, SegmentRing* ring, const ByteBuffer& segment, const SegmentLabel& label);

// A live source being streamed: its ring, and what may resolve it again
// when its media URL expires (a page resolved by the runner).
struct LiveSource {
    SegmentRingPtr ring;
    const EngineHooks* hooks = nullptr;
    int resolved_without_segment = 0;  // a fresh URL that fails at once is the runner's to retry
};

// The next segment into `segment` (and its label). When the ring failed and
// the hooks can resolve the source again, a new ring on the fresh URL takes
// over on the same connection (joining after the recorded segments) and the
// timeline rebases at its first tag; twice in a row without a segment, and
// the failure stands.
[[nodiscard]] SegmentTake live_source_next(LiveSource& source, PublishContext& context, ByteBuffer* segment,
                                           SegmentLabel* label);

// The engine's result once the source gives no more segments: done when it
// ended cleanly, stopped when a stop came, else failed with the ring's error
// text.
[[nodiscard]] EngineResult live_source_end_result(const LiveSource& source, const PublishContext& context,
                                                  std::span<char> error);
