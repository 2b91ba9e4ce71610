// LockFileEx locks on one byte of the lock file: they belong to the handle,
// so they also tell two holders in one process apart, and the system drops
// them when the holder's handle closes or the process dies.
//
// A release deletes the file while still holding it. Other takers may have
// it open then: with the older delete semantics the name lingers, pending,
// until their handles close and cannot be opened meanwhile; with the POSIX
// semantics of newer systems the name goes at once and the next taker
// creates a new file. Either way a taker may lock a file that no longer has
// the name, so it counts only once the path still opens to the very file
// it locked; holders alone ever delete, so that stays true until release.
#include <windows.h>

#include "platform/files/file_lock.h"
#include "platform/text/wide_text.h"

struct FileLock {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string path;
};

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Orphans found in a row before giving up: each one means another holder
// released meanwhile, so a few tries always settle who holds it.
constexpr int TAKE_TRIES = 8;

HANDLE open_lock_file(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(utf8_to_wide(path).c_str(), access, SHARE_ALL, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool lock_now(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION one{}, two{};
    return GetFileInformationByHandle(a, &one) && GetFileInformationByHandle(b, &two) &&
           one.dwVolumeSerialNumber == two.dwVolumeSerialNumber && one.nFileIndexHigh == two.nFileIndexHigh &&
           one.nFileIndexLow == two.nFileIndexLow;
}

// False too when the name is gone or pending deletion (it cannot be opened).
bool names_open_file(const std::string& path, HANDLE file) {
    HANDLE named = open_lock_file(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    if (named == INVALID_HANDLE_VALUE) return false;
    bool same = same_file(file, named);
    CloseHandle(named);
    return same;
}

}  // namespace

void file_lock_release(FileLock* lock) {
    if (!lock) return;
    DeleteFileW(utf8_to_wide(lock->path).c_str());
    CloseHandle(lock->file);
    delete lock;
}

FileLockPtr file_lock_take(const std::string& path) {
    for (int attempt = 0; attempt < TAKE_TRIES; ++attempt) {
        HANDLE file = open_lock_file(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        if (!lock_now(file, LOCKFILE_EXCLUSIVE_LOCK)) {
            CloseHandle(file);
            return nullptr;
        }
        if (names_open_file(path, file)) return FileLockPtr(new FileLock{file, path});
        CloseHandle(file);
    }
    return nullptr;
}

bool file_lock_held(const std::string& path) {
    HANDLE file = open_lock_file(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool held = !lock_now(file, 0) && GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return held;
}
