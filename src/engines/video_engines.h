// The engines built on the video libraries (FFmpeg, and Pango and Cairo on
// Linux), reached through one table so that a process that only copies
// streams never maps those libraries. On Linux they live in the module
// veltrona-video.so, loaded on the first call that needs one
// (video_module_posix.cpp); Windows links them in (video_module_win32.cpp);
// a build without the video pipeline has stand-ins that fail and say so
// (video_module_novideo.cpp). The module exports one entry, the function
// below, and keeps everything else to itself.
#pragma once

#include <span>

#include "engines/engine_contract.h"

struct VideoEngineTable {
    Engine<OverlayStreamOptions> overlay_stream_engine;
    Engine<Mp4LoopOptions> mp4_loop_engine;
    Engine<OverlayTsLoopOptions> overlay_ts_loop_engine;
};

// The module's entry (video_engine_entry.cpp), by name for dlsym.
constexpr const char* VIDEO_MODULE_ENTRY = "veltrona_video_engines";
extern "C" const VideoEngineTable* veltrona_video_engines();

// The video engines, loaded on the first call; null when they cannot be
// had, with the reason in `error`. Safe from any thread.
[[nodiscard]] const VideoEngineTable* video_engine_table(std::span<char> error);
