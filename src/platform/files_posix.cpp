// Private files with open(2) and mode 0600. Descriptors are close-on-exec so
// a tool we start never inherits the configuration or a log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/files.h"

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

bool file_read_all(const std::string& path, std::string* content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool file_create_private(const std::string& path, std::string_view content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write_all(fd, content);
    if (close(fd) != 0) ok = false;
    if (!ok) unlink(path.c_str());
    return ok;
}

bool file_replace_private(const std::string& path, const std::string& temp_path, std::string_view content) {
    int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool written = fchmod(fd, 0600) == 0 && write_all(fd, content) && fsync(fd) == 0;
    if (close(fd) != 0 || !written) return false;
    return file_move_replacing(temp_path, path);
}

bool file_move_replacing(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

void file_append_private(const std::string& path, std::string_view line, int64_t size_limit) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
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
