// flock(2) locks: they belong to the open file, so they also tell two
// holders in one process apart, and vanish with the process.
//
// A release unlinks the file while still holding it, but a taker may have
// opened it just before: its lock then lands on an orphan that no longer
// has the name, while a third taker creates the path anew and locks that.
// So a taker counts only once the file it locked is still the one the path
// names; holders alone ever unlink, so that stays true until its release.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_lock.h"

struct FileLock {
    int fd = -1;
    std::string path;
};

namespace {

// Orphans found in a row before giving up: each one means another holder
// released meanwhile, so a few tries always settle who holds it.
constexpr int TAKE_TRIES = 8;

bool names_open_file(const std::string& path, int fd) {
    struct stat held = {};
    struct stat named = {};
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

}  // namespace

void file_lock_release(FileLock* lock) {
    if (!lock) return;
    unlink(lock->path.c_str());
    close(lock->fd);
    delete lock;
}

FileLockPtr file_lock_take(const std::string& path) {
    for (int attempt = 0; attempt < TAKE_TRIES; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return nullptr;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return nullptr;
        }
        if (names_open_file(path, fd)) return FileLockPtr(new FileLock{fd, path});
        close(fd);
    }
    return nullptr;
}

bool file_lock_held(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}
