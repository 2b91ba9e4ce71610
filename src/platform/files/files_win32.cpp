// Private files with CreateFileW. Handles are not inheritable, so a tool we
// start never holds the configuration or a log open. Appending uses
// FILE_APPEND_DATA access, which makes each WriteFile land at the end of the
// file as one piece, as O_APPEND does.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/files/files.h"
#include "platform/text/wide_text.h"

namespace {

struct FileHandle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    explicit FileHandle(HANDLE h) : handle(h) {}
    ~FileHandle() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
    bool close() {
        bool ok = CloseHandle(handle) != 0;
        handle = INVALID_HANDLE_VALUE;
        return ok;
    }
};

HANDLE open_file(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(utf8_to_wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD step = bytes.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), step, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// Six characters of a temporary file's name.
std::string unique_name(uint32_t seed) {
    static constexpr char DIGITS[] = "0123456789abcdefghijklmnopqrstuv";
    std::string name;
    for (int i = 0; i < 6; ++i, seed >>= 5) name += DIGITS[seed & 31];
    return name;
}

}  // namespace

FileRead file_read_all(const std::string& path, std::string* content, std::string* error) {
    auto fail = [error] {
        if (error) *error = "Windows error " + std::to_string(GetLastError());
        return FileRead::failed;
    };
    FileHandle file(open_file(path, GENERIC_READ, OPEN_EXISTING));
    if (!file.valid()) {
        DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? FileRead::missing : fail();
    }
    content->clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.handle, buffer, sizeof buffer, &got, nullptr)) {
        if (got == 0) return FileRead::ok;
        content->append(buffer, got);
    }
    return fail();
}

bool file_create_private(const std::string& path, std::string_view content) {
    FileHandle file(open_file(path, GENERIC_WRITE, CREATE_NEW));
    if (!file.valid()) return false;
    bool ok = write_all(file.handle, content);
    if (!file.close()) ok = false;
    if (!ok) DeleteFileW(utf8_to_wide(path).c_str());
    return ok;
}

bool file_replace_private(const std::string& path, std::string_view content, FileDurability durability) {
    // CREATE_NEW under a name of our own making, retried on a collision, is
    // what mkstemp does on POSIX systems.
    static std::atomic<uint32_t> counter{0};
    std::string temp_path;
    FileHandle file(INVALID_HANDLE_VALUE);
    for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
        uint32_t seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount() ^ counter.fetch_add(1) * 40503u;
        temp_path = path + std::string(TEMP_NAME_SUFFIX.substr(0, TEMP_NAME_SUFFIX.size() - 6)) + unique_name(seed);
        file.handle = open_file(temp_path, GENERIC_WRITE, CREATE_NEW);
        if (!file.valid() && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (!file.valid()) return false;
    bool written =
        write_all(file.handle, content) && (durability == FileDurability::cached || FlushFileBuffers(file.handle));
    if (!file.close()) written = false;
    if (written && file_move_replacing(temp_path, path)) return true;
    DeleteFileW(utf8_to_wide(temp_path).c_str());
    return false;
}

bool file_move_replacing(const std::string& from, const std::string& to) {
    return MoveFileExW(utf8_to_wide(from).c_str(), utf8_to_wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void file_append_private(const std::string& path, std::string_view line, int64_t size_limit) {
    // Append-only access (no FILE_WRITE_DATA): every write goes to the end.
    FileHandle file(open_file(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, OPEN_ALWAYS));
    if (!file.valid()) return;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.handle, &size) && size.QuadPart > size_limit) {
        FileHandle emptied(open_file(path, GENERIC_WRITE, TRUNCATE_EXISTING));
        if (!emptied.valid()) return;
    }
    (void)write_all(file.handle, line);
}

FILE* file_open(const std::string& path, const char* mode) {
    return _wfopen(utf8_to_wide(path).c_str(), utf8_to_wide(mode).c_str());
}
