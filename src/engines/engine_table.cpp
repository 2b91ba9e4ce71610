// The table of the engines built into this program. The runner takes its
// engines from its run context, so tests can put their own in its place.
#include "engines/engines.h"

const EngineTable& default_engine_table() {
    static const EngineTable table{
        .overlay_stream_engine = overlay_stream_engine,
        .hls_to_rtmp_engine = hls_to_rtmp_engine,
        .hls_to_ts_recorder = hls_to_ts_recorder,
        .mp4_loop_engine = mp4_loop_engine,
        .overlay_ts_loop_engine = overlay_ts_loop_engine,
        .ts_loop_publisher = ts_loop_publisher,
    };
    return table;
}
