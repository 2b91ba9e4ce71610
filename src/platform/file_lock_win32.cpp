// LockFileEx locks on one byte of the lock file: they belong to the handle,
// so they also tell two holders in one process apart, and the system drops
// them when the holder's handle closes or the process dies.
#include <windows.h>

#include "platform/file_lock.h"
#include "platform/wide_text.h"

struct FileLock {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string path;
};

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_lock_file(const std::string& path, DWORD disposition) {
    return CreateFileW(utf8_to_wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool lock_now(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

}  // namespace

void file_lock_release(FileLock* lock) {
    if (!lock) return;
    // Delete while still holding the lock, so nobody takes a lock on a file
    // that is about to disappear from under them.
    DeleteFileW(utf8_to_wide(lock->path).c_str());
    CloseHandle(lock->file);
    delete lock;
}

FileLockPtr file_lock_take(const std::string& path) {
    HANDLE file = open_lock_file(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    if (!lock_now(file, LOCKFILE_EXCLUSIVE_LOCK)) {
        CloseHandle(file);
        return nullptr;
    }
    return FileLockPtr(new FileLock{file, path});
}

bool file_lock_held(const std::string& path) {
    HANDLE file = open_lock_file(path, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool held = !lock_now(file, 0) && GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return held;
}
