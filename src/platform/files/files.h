// Files whose content is private to the user: the configuration, its
// one-time legacy copy, the logs. Paths are UTF-8 (either separator on
// Windows). Private means mode 0600 on POSIX systems, and no open follows a
// symbolic link at the file's own name, so a link planted in place of one
// of our files is never written (or read) through; on Windows the files
// live in the per-user profile, whose folder permissions already keep other
// users out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

enum class FileRead { ok, missing, failed };

// The whole regular file. `missing` only when nothing is at the path;
// anything else that stops the read (a folder, a link, a device, an I/O
// error) is `failed`, with the system's reason in `error`.
[[nodiscard]] FileRead file_read_all(const std::string& path, std::string* content, std::string* error = nullptr);

// Creates `path` with `content` only when it does not exist yet; a
// partial write removes it again.
[[nodiscard]] bool file_create_private(const std::string& path, std::string_view content);

// What file_replace_private adds to the path for its temporary file; the
// X's become a name nobody else holds.
constexpr std::string_view TEMP_NAME_SUFFIX = ".tmp.XXXXXX";

// Whether a replaced file must reach the disk before it takes the old one's
// place (what the user keeps), or may stay in the cache (a figure rewritten
// each second, whose loss in a crash costs nothing).
enum class FileDurability { flushed, cached };

// Writes `content` to a new file of a unique name beside `path` (created,
// never opened if it exists), flushes it to the disk unless `cached`, then
// renames it over `path` in one step, so readers see the old file or the new,
// never a part. On failure the temporary file is removed and `path` is untouched.
[[nodiscard]] bool file_replace_private(const std::string& path, std::string_view content,
                                        FileDurability durability = FileDurability::flushed);

// Appends `line` in one write to a file opened for appending, so lines from
// several writers never interleave mid-line; a file already larger than
// `size_limit` is emptied first. Failures are silent: logging must not fail
// its caller.
void file_append_private(const std::string& path, std::string_view line, int64_t size_limit);

// Renames `from` to `to`, replacing a file of that name in one step.
[[nodiscard]] bool file_move_replacing(const std::string& from, const std::string& to);

// fopen for a UTF-8 path.
[[nodiscard]] FILE* file_open(const std::string& path, const char* mode);

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;
