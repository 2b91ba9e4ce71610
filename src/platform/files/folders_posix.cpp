// Folder discovery on freedesktop systems. The desktop folder comes from
// ~/.config/user-dirs.dirs (XDG_DESKTOP_DIR="$HOME/..."), as file managers
// read it; a missing or odd entry falls back to ~/Desktop.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "platform/files/folders.h"

namespace {

std::string env_text(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string home_folder() {
    return env_text("HOME");
}

std::string config_home() {
    std::string xdg = env_text("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg[0] == '/') return xdg;
    std::string home = home_folder();
    return home.empty() ? std::string() : home + "/.config";
}

// Reads XDG_DESKTOP_DIR from user-dirs.dirs: a quoted value that may start with $HOME.
std::string desktop_from_user_dirs() {
    std::string config = config_home();
    if (config.empty()) return {};
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DESKTOP_DIR=\"";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        size_t end = line.find('"', key.size());
        if (end == std::string::npos) return {};
        std::string value = line.substr(key.size(), end - key.size());
        if (value.compare(0, 5, "$HOME") == 0) value = home_folder() + value.substr(5);
        return (!value.empty() && value[0] == '/') ? value : std::string();
    }
    return {};
}

}  // namespace

std::string user_data_base() {
    std::string xdg = env_text("XDG_DATA_HOME");
    if (!xdg.empty() && xdg[0] == '/') return xdg;
    std::string home = home_folder();
    return home.empty() ? std::string() : home + "/.local/share";
}

std::string temp_folder() {
    std::string tmp = env_text("TMPDIR");
    if (tmp.empty()) tmp = "/tmp";
    if (tmp.back() != '/') tmp += '/';
    return tmp;
}

std::string desktop_folder() {
    std::string desktop = desktop_from_user_dirs();
    if (!desktop.empty()) return desktop;
    std::string home = home_folder();
    return home.empty() ? std::string() : home + "/Desktop";
}

std::string programs_folder() {
    std::string base = user_data_base();
    return base.empty() ? std::string() : base + "/applications";
}

std::string executable_path() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    return std::string(buffer, static_cast<size_t>(length));
}

std::string path_parent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string path_file_name(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string path_join(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

bool ensure_directory(const std::string& path) {
    if (path.empty()) return false;
    if (is_directory(path)) return true;
    std::string parent = path_parent(path);
    while (!parent.empty() && parent.back() == '/') parent.pop_back();
    if (!parent.empty() && !ensure_directory(parent)) return false;
    if (mkdir(path.c_str(), 0700) == 0) return true;
    return errno == EEXIST && is_directory(path);
}

bool folder_is_private(const std::string& path) {
    struct stat name {
    }, folder{};
    if (path.empty() || lstat(path.c_str(), &name) != 0 || stat(path.c_str(), &folder) != 0) return false;
    return name.st_uid == geteuid() && folder.st_uid == geteuid() && S_ISDIR(folder.st_mode) &&
           (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool path_exists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

FileStamp file_stamp(const std::string& path) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) return {};
    return FileStamp{static_cast<uint64_t>(info.st_ino), static_cast<int64_t>(info.st_size),
                     static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

int64_t regular_file_size(const std::string& path) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<int64_t>(info.st_size);
}
