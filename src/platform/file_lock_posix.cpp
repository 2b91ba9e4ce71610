// flock(2) locks: they belong to the open file, so they also tell two
// holders in one process apart, and vanish with the process.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"

struct FileLock {
    int fd = -1;
    std::string path;
};

void file_lock_release(FileLock* lock) {
    if (!lock) return;
    // Unlink while still holding the lock, so nobody takes a lock on a file
    // that is about to disappear from under them.
    unlink(lock->path.c_str());
    close(lock->fd);
    delete lock;
}

FileLockPtr file_lock_take(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    return FileLockPtr(new FileLock{fd, path});
}

bool file_lock_held(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}
