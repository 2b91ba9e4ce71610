// The video engines' table as the module (or, on Windows, the program)
// hands it out.
#include "engines/engines.h"
#include "engines/video_engines.h"

extern "C" const VideoEngineTable* veltrona_video_engines() {
    static const VideoEngineTable table{
        .overlay_stream_engine = overlay_stream_engine,
        .mp4_loop_engine = mp4_loop_engine,
        .overlay_ts_loop_engine = overlay_ts_loop_engine,
    };
    return &table;
}
