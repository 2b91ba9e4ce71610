// Folder discovery on Windows: the shell's known folders (local application
// data, Desktop, Start-menu Programs), GetTempPathW and GetModuleFileNameW.
// Paths come back as UTF-8 with the system's backslashes; every function
// that takes a path accepts '/' and '\' alike.
// The system headers must come in this order.
// clang-format off
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include "platform/files/folders.h"
#include "platform/text/wide_text.h"

namespace {

std::string known_folder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string result;
    if (SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK && path) result = wide_to_utf8(path);
    CoTaskMemFree(path);
    return result;
}

bool file_attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
    return !path.empty() && GetFileAttributesExW(utf8_to_wide(path).c_str(), GetFileExInfoStandard, data) != 0;
}

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// A drive root ("C:", "C:\") or a share root has no parent to create.
bool is_root(const std::string& path) {
    return path.size() <= 3 && path.size() >= 2 && path[1] == ':';
}

}  // namespace

std::string user_data_base() {
    return known_folder(FOLDERID_LocalAppData);
}

std::string temp_folder() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    std::string folder = length > 0 && length <= MAX_PATH ? wide_to_utf8({buffer, length}) : std::string("C:\\");
    if (!is_separator(folder.back())) folder += '\\';
    return folder;
}

std::string desktop_folder() {
    return known_folder(FOLDERID_Desktop);
}

std::string programs_folder() {
    return known_folder(FOLDERID_Programs);
}

std::string executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return wide_to_utf8({buffer.data(), length});
        buffer.resize(buffer.size() * 2);
    }
}

std::string path_parent(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string path_file_name(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string path_join(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

bool ensure_directory(const std::string& path) {
    if (path.empty()) return false;
    if (is_directory(path)) return true;
    std::string parent = path_parent(path);
    while (!parent.empty() && is_separator(parent.back())) parent.pop_back();
    if (!parent.empty() && !is_root(parent) && !ensure_directory(parent)) return false;
    if (CreateDirectoryW(utf8_to_wide(path).c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && is_directory(path);
}

bool folder_is_private(const std::string& path) {
    return is_directory(path);
}

bool path_exists(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return file_attributes(path, &data);
}

bool is_directory(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return file_attributes(path, &data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int64_t regular_file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!file_attributes(path, &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// No inode without opening the file: a replaced config.tsv still shows in
// its size or its last-write time (100 ns steps).
FileStamp file_stamp(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!file_attributes(path, &data)) return {};
    const uint64_t written =
        (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return FileStamp{0, static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow),
                     static_cast<int64_t>(written) * 100};
}
