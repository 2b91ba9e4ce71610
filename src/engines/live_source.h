// The start every live engine shares: the downloader started on its ring,
// then the wait for the first segment, before anything else is touched (so
// a source that never delivers never reaches the server or the recording).
#pragma once

#include <optional>
#include <span>
#include <string>

#include "engines/publish_context.h"
#include "net/segment_ring.h"

// Starts the downloader for `source` into `ring` and takes the first segment
// into `segment`. nullopt once it is in hand; otherwise the engine's result:
// 0 with "HLS downloader thread failed", the ring's error text or "HLS source
// ended before a segment was downloaded"; 1 when the stop came first.
[[nodiscard]] std::optional<int> live_source_first_segment(SegmentRingPtr& ring,
                                                           const std::string& source,
                                                           const PublishContext& context,
                                                           ByteBuffer* segment,
                                                           std::span<char> error);
