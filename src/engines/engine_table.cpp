// The table of the engines built into this program. The runner takes its
// engines from its run context, so tests can put their own in its place.
// The engines built on the video libraries are reached through their own
// table (engines/video_engines.h), looked up on each call so that only a run
// that needs one loads them.
#include "engines/engines.h"
#include "engines/video_engines.h"

namespace {

template <typename Options, Engine<Options> VideoEngineTable::*engine>
EngineResult video_engine(const Options& options, const EngineRun& run, std::span<char> error) {
    const VideoEngineTable* table = video_engine_table(error);
    return table ? (table->*engine)(options, run, error) : EngineResult::failed;
}

}  // namespace

const EngineTable& default_engine_table() {
    static const EngineTable table{
        .overlay_stream_engine = video_engine<OverlayStreamOptions, &VideoEngineTable::overlay_stream_engine>,
        .hls_to_rtmp_engine = hls_to_rtmp_engine,
        .hls_to_ts_recorder = hls_to_ts_recorder,
        .mp4_loop_engine = video_engine<Mp4LoopOptions, &VideoEngineTable::mp4_loop_engine>,
        .overlay_ts_loop_engine = video_engine<OverlayTsLoopOptions, &VideoEngineTable::overlay_ts_loop_engine>,
        .ts_loop_publisher = ts_loop_publisher,
    };
    return table;
}
