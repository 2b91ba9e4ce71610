// Launcher entries as freedesktop .desktop files.
//
// An entry is "in order" when its [Desktop Entry] group's Exec names this
// executable (compared ignoring case, as the shortcut check always did);
// then nothing is written. Otherwise the entry is rewritten through a
// temporary file and a rename, keeping every line we do not own (Name
// translations, Categories, user additions) and setting Exec, Path, Comment
// and Icon. Desktop launchers must be executable to be trusted, hence 0755.
// Icon is the icon theme's name: an executable carries no picture here, and
// the installed package puts the program's icon in the theme under it (the
// user's menu entry shadows the package's, so it must name the same icon).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/shortcuts.h"
#include "platform/files/folders.h"
#include "platform/text/text.h"

namespace {

constexpr const char* GROUP = "[Desktop Entry]";
constexpr const char* ENTRY_FILE_NAME = "veltrona.desktop";
constexpr const char* ICON_NAME = "veltrona";

bool read_lines(const std::string& path, std::vector<std::string>* lines) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) lines->push_back(line);
    return true;
}

// The program of an Exec value: the first word, unquoted.
std::string exec_program(std::string_view value) {
    std::string program;
    if (!value.empty() && value[0] == '"') {
        for (size_t at = 1; at < value.size() && value[at] != '"'; ++at) {
            if (value[at] == '\\' && at + 1 < value.size()) ++at;
            program += value[at];
        }
        return program;
    }
    return std::string(value.substr(0, value.find(' ')));
}

std::string exec_quoted(const std::string& target) {
    if (target.find_first_of(" \t\"'\\`$;&|<>()*?#~=%") == std::string::npos) return target;
    std::string quoted = "\"";
    for (char c : target) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// Index range [begin, end) of the [Desktop Entry] group's key lines, or begin = npos.
void find_group(const std::vector<std::string>& lines, size_t* begin, size_t* end) {
    *begin = std::string::npos;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == GROUP) {
            *begin = i + 1;
            *end = *begin;
            while (*end < lines.size() && (lines[*end].empty() || lines[*end][0] != '[')) ++*end;
            return;
        }
    }
}

std::string group_value(const std::vector<std::string>& lines, const std::string& key) {
    size_t begin = 0, end = 0;
    find_group(lines, &begin, &end);
    if (begin == std::string::npos) return {};
    for (size_t i = begin; i < end; ++i) {
        if (lines[i].compare(0, key.size() + 1, key + "=") == 0) return lines[i].substr(key.size() + 1);
    }
    return {};
}

void set_group_value(std::vector<std::string>& lines, const std::string& key, const std::string& value) {
    size_t begin = 0, end = 0;
    find_group(lines, &begin, &end);
    if (begin == std::string::npos) {
        lines.insert(lines.begin(), GROUP);
        begin = end = 1;
    }
    for (size_t i = begin; i < end; ++i) {
        if (lines[i].compare(0, key.size() + 1, key + "=") == 0) {
            lines[i] = key + "=" + value;
            return;
        }
    }
    while (end > begin && lines[end - 1].empty()) --end;
    lines.insert(lines.begin() + static_cast<long>(end), key + "=" + value);
}

bool write_entry(const std::string& path, const std::vector<std::string>& lines) {
    std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const std::string& line : lines) out << line << '\n';
        out.flush();
        if (!out) {
            unlink(temp.c_str());
            return false;
        }
    }
    if (chmod(temp.c_str(), 0755) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool ensure_shortcut(const std::string& link_path, const std::string& target_path) {
    std::vector<std::string> lines;
    bool loaded = read_lines(link_path, &lines);
    if (loaded) {
        std::string stored = exec_program(group_value(lines, "Exec"));
        if (!stored.empty() && iequals(stored, target_path)) return true;
    } else {
        lines = {GROUP, "Type=Application", "Name=Veltrona", "Terminal=false", "Categories=AudioVideo;Network;"};
    }
    set_group_value(lines, "Exec", exec_quoted(target_path));
    std::string working_dir = path_parent(target_path);
    if (!working_dir.empty()) set_group_value(lines, "Path", working_dir);
    set_group_value(lines, "Comment", "Veltrona");
    set_group_value(lines, "Icon", ICON_NAME);
    return write_entry(link_path, lines);
}

bool ensure_user_shortcuts_in(const std::string& desktop_dir, const std::string& programs_dir,
                              const std::string& target_path) {
    if (target_path.empty() || desktop_dir.empty() || programs_dir.empty()) return false;
    if (!ensure_directory(desktop_dir) || !ensure_directory(programs_dir)) return false;
    return ensure_shortcut(desktop_dir + "/" + ENTRY_FILE_NAME, target_path) &&
           ensure_shortcut(programs_dir + "/" + ENTRY_FILE_NAME, target_path);
}

bool ensure_user_shortcuts() {
    return ensure_user_shortcuts_in(desktop_folder(), programs_folder(), executable_path());
}
