// The six media engines the runner calls (their shape is in
// engines/engine_contract.h), each with its own rule for `done`:
//   capture:  overlay_stream_engine, hls_to_rtmp_engine: done at the clean end of the live source;
//             hls_to_ts_recorder: done only when it wrote at least one segment
//   loop:     mp4_loop_engine, overlay_ts_loop_engine, ts_loop_publisher: never done, only stopped
#pragma once

#include "engines/engine_contract.h"

EngineResult overlay_stream_engine(const OverlayStreamOptions& options, const EngineRun& run, std::span<char> error);
EngineResult hls_to_rtmp_engine(const HlsToRtmpOptions& options, const EngineRun& run, std::span<char> error);
EngineResult hls_to_ts_recorder(const HlsToTsOptions& options, const EngineRun& run, std::span<char> error);
EngineResult mp4_loop_engine(const Mp4LoopOptions& options, const EngineRun& run, std::span<char> error);
EngineResult overlay_ts_loop_engine(const OverlayTsLoopOptions& options, const EngineRun& run, std::span<char> error);
EngineResult ts_loop_publisher(const TsLoopOptions& options, const EngineRun& run, std::span<char> error);
