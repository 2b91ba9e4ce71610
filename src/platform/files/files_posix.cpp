// Private files with open(2) and mode 0600. Descriptors are close-on-exec so
// a tool we start never inherits the configuration or a log; O_NOFOLLOW
// (and O_EXCL for new files) keeps every open off a planted link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files/files.h"

namespace {

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

}  // namespace

FileRead file_read_all(const std::string& path, std::string* content, std::string* error) {
    auto fail = [error](const char* reason) {
        if (error) *error = reason;
        return FileRead::failed;
    };
    // Non-blocking, so a FIFO in the file's place cannot hang the open.
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? FileRead::missing : fail(std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return fail(S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    }
    content->clear();
    char buffer[65536];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            int reason = errno;
            close(fd);
            return fail(std::strerror(reason));
        }
        if (got == 0) break;
        content->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return FileRead::ok;
}

bool file_create_private(const std::string& path, std::string_view content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write_all(fd, content);
    if (close(fd) != 0) ok = false;
    if (!ok) unlink(path.c_str());
    return ok;
}

bool file_replace_private(const std::string& path, std::string_view content, FileDurability durability) {
    std::string temp_path = path + std::string(TEMP_NAME_SUFFIX);
    int fd = mkostemp(temp_path.data(), O_CLOEXEC);  // O_EXCL, mode 0600
    if (fd < 0) return false;
    bool written =
        fchmod(fd, 0600) == 0 && write_all(fd, content) && (durability == FileDurability::cached || fsync(fd) == 0);
    if (close(fd) != 0) written = false;
    if (written && file_move_replacing(temp_path, path)) return true;
    unlink(temp_path.c_str());
    return false;
}

bool file_move_replacing(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

void file_append_private(const std::string& path, std::string_view line, int64_t size_limit) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return;
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size > size_limit && ftruncate(fd, 0) != 0) {
        close(fd);
        return;
    }
    ssize_t ignored = write(fd, line.data(), line.size());
    (void)ignored;
    close(fd);
}

FILE* file_open(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}
