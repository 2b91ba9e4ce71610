// Windows links the video engines into the program (static FFmpeg, GDI
// text), so their table is there from the start.
#include "engines/video_engines.h"

const VideoEngineTable* video_engine_table(std::span<char>) {
    return veltrona_video_engines();
}
