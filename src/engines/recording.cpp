// Appending segments to the recording, and the cut-back after a failed write.
#include "engines/recording.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/files/folders.h"

bool recording_open(Recording& recording, const std::string& path) {
    recording.file.reset(file_open(path, "ab"));
    recording.path = path;
    // Not ftell: its long is 32 bits on Windows, and a day's recording is larger.
    const int64_t size = regular_file_size(path);
    recording.size = size > 0 ? static_cast<uint64_t>(size) : 0;
    return recording.file != nullptr;
}

bool recording_is_open(const Recording& recording) {
    return recording.file != nullptr;
}

int recording_append(Recording& recording, std::span<const uint8_t> segment, const SegmentLabel& label) {
    if (!recording.file) return EBADF;
    errno = 0;
    FILE* file = recording.file.get();
    if (std::fwrite(segment.data(), 1, segment.size(), file) != segment.size() || std::fflush(file) != 0) {
        const int error_number = errno != 0 ? errno : EIO;
        recording_close(recording);
        std::error_code ignored;
        const auto* utf8 = reinterpret_cast<const char8_t*>(recording.path.c_str());
        std::filesystem::resize_file(std::filesystem::path(utf8), recording.size, ignored);
        return error_number;
    }
    recording.size += segment.size();
    if (recording.history && label.sequence >= 0) hls_history_add(recording.history, label);
    return 0;
}

void recording_close(Recording& recording) {
    recording.file.reset();
}
