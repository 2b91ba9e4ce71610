// The TS recording of a live capture: whole segments appended byte for
// byte, flushed after each, so the file always ends at a segment boundary
// and a loop over it never meets half a segment. A failed write cuts the
// file back to its last whole segment and closes it; what that means for
// the run (a notice and streaming on, or the recorder's failure) is the
// engine's to decide. Each capture attempt of a run appends to the run's one
// file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "net/hls_downloader.h"
#include "platform/files/files.h"

struct Recording {
    FilePtr file{};
    std::string path{};
    uint64_t size = 0;  // bytes of whole segments in the file
    // The segments the run has recorded, kept by the runner across its
    // capture attempts (also when this attempt writes no file); may be null.
    HlsSegmentHistory* history = nullptr;
};

// Opens `path` for appending; false when it cannot be opened.
[[nodiscard]] bool recording_open(Recording& recording, const std::string& path);

// True while a file is open.
[[nodiscard]] bool recording_is_open(const Recording& recording);

// Appends one segment and adds `label` to the history (when kept and the
// label has a sequence number). 0 when written; else the errno of the
// failed write, after which the file is cut back and closed.
[[nodiscard]] int recording_append(Recording& recording, std::span<const uint8_t> segment, const SegmentLabel& label);

// Closes the file (the history stays).
void recording_close(Recording& recording);
