// The file-system facts the program needs: where the per-user folders are,
// where its own executable lives, and small checks on paths.
//
// Per-user data lives under $XDG_DATA_HOME (else ~/.local/share); the
// temporary folder is the fallback when neither can be found. Paths are
// UTF-8 and use '/'.
#pragma once

#include <cstdint>
#include <string>

// Base folder for per-user application data, or "" when none can be found.
[[nodiscard]] std::string user_data_base();
// $TMPDIR or /tmp, always with a trailing '/'.
[[nodiscard]] std::string temp_folder();
// The user's desktop folder (XDG user-dirs, else ~/Desktop), or "".
[[nodiscard]] std::string desktop_folder();
// Where per-user application menu entries live (<data home>/applications), or "".
[[nodiscard]] std::string programs_folder();

// Absolute path of the running executable, or "".
[[nodiscard]] std::string executable_path();
// `path` without its last '/' and what follows ("" when there is no '/').
[[nodiscard]] std::string path_parent(const std::string& path);

// Creates the directory and any missing parents; true also when it exists.
[[nodiscard]] bool ensure_directory(const std::string& path);

[[nodiscard]] bool path_exists(const std::string& path);
[[nodiscard]] bool is_directory(const std::string& path);
// Size of a regular file, or -1 when it is missing or not a regular file.
[[nodiscard]] int64_t regular_file_size(const std::string& path);

// What changes when a file is replaced or rewritten: its identity, size and
// modification time. All zero when the file is missing.
struct FileStamp {
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modified_ns = 0;
    bool operator==(const FileStamp&) const = default;
};
[[nodiscard]] FileStamp file_stamp(const std::string& path);
