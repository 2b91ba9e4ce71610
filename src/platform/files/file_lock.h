// Advisory locks that tell one process what another is doing with the same
// data folder: a run holds one lock file per workflow, so neither front end
// starts a workflow the other runs, and a `delete` from another shell can
// see the workflow is running.
// The system drops a lock when its holder closes it or dies, so a crashed
// run never leaves a workflow marked as running.
#pragma once

#include <memory>
#include <string>

struct FileLock;

void file_lock_release(FileLock* lock);
struct FileLockReleaser {
    void operator()(FileLock* lock) const { file_lock_release(lock); }
};
using FileLockPtr = std::unique_ptr<FileLock, FileLockReleaser>;

// Creates `path` if needed and takes its lock without waiting; null when
// another holder has it, the file cannot be created, or it was replaced
// again and again while this looked. Releasing removes the file; at no
// time do two holders have the lock on one path.
[[nodiscard]] FileLockPtr file_lock_take(const std::string& path);

// True when some holder has the lock on `path` right now.
[[nodiscard]] bool file_lock_held(const std::string& path);
