// The file-system facts the program needs: where the per-user folders are,
// where its own executable lives, and small checks on paths.
//
// Per-user data lives under $XDG_DATA_HOME (else ~/.local/share), on
// Windows under the local application-data folder; the temporary folder is
// the fallback when neither can be found. Paths are UTF-8 and use the
// system's separator ('/', or '\' on Windows, where '/' is accepted too).
#pragma once

#include <cstdint>
#include <string>

// What separates the folders of the PATH variable.
#ifdef _WIN32
constexpr char PATH_LIST_SEPARATOR = ';';
#else
constexpr char PATH_LIST_SEPARATOR = ':';
#endif

// Base folder for per-user application data, or "" when none can be found.
[[nodiscard]] std::string user_data_base();
// $TMPDIR or /tmp (Windows: GetTempPathW), always with a trailing separator.
[[nodiscard]] std::string temp_folder();
// The user's desktop folder (XDG user-dirs, else ~/Desktop; Windows: the known folder), or "".
[[nodiscard]] std::string desktop_folder();
// Where per-user menu entries live (<data home>/applications; Windows: Start-menu Programs), or "".
[[nodiscard]] std::string programs_folder();

// Absolute path of the running executable, or "".
[[nodiscard]] std::string executable_path();
// `path` without its last separator and what follows ("" when there is none).
[[nodiscard]] std::string path_parent(const std::string& path);
// What follows the last separator of `path` (all of it when there is none).
[[nodiscard]] std::string path_file_name(const std::string& path);
// `folder` and `name` joined with the system's separator.
[[nodiscard]] std::string path_join(const std::string& folder, const std::string& name);

// Creates the directory and any missing parents (for the user alone: mode
// 0700 on POSIX systems); true also when it exists.
[[nodiscard]] bool ensure_directory(const std::string& path);

// True when `path` is a folder that only the user can change: on POSIX
// systems it, and a link at its name, belong to the user, and neither group
// nor others may write to it. (On Windows the per-user profile's
// permissions already keep other users out.)
[[nodiscard]] bool folder_is_private(const std::string& path);

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
