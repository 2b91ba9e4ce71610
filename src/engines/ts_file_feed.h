// Feeding a recorded MPEG-TS file to a publishing context's demultiplexer,
// as the TS loop engines (plain and overlay) do once per pass: reads of TS_LOOP_READ_SIZE bytes
// (1024 packets) cut to whole packets, so the demultiplexer always gets
// aligned data and only an incomplete last packet of the file is dropped.
// Pacing, not reading, sets the speed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "engines/publish_context.h"

constexpr size_t TS_LOOP_READ_SIZE = 192512;  // 1024 transport packets

// Feeds `file` from where it stands to its end through `buffer` (its size is
// the read size): done at the end of the file, stopped when the stop event
// came first (also when it made a feed fail), failed on a read error ("TS
// recording read failed") or a feed error that was not a stop.
[[nodiscard]] EngineResult ts_file_feed(PublishContext& context, FILE* file, std::vector<uint8_t>& buffer,
                                        std::span<char> error);
