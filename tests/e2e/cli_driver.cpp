// The CLI driver and media helpers of the end-to-end tests. Every wait is
// bounded; the child's output is re-read from its file on each poll (it is
// small: one line per status change).
#include "e2e/cli_driver.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t POLL_MS = 10;

std::vector<std::string> split_lines(const std::string& text, bool complete_only) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (!complete_only) lines.push_back(text.substr(start));
            break;
        }
        size_t length = end - start;
        if (length > 0 && text[end - 1] == '\r') --length;  // the Windows build ends lines with CR LF
        lines.push_back(text.substr(start, length));
        start = end + 1;
    }
    return lines;
}

void sleep_ms(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The number in a segment name ("live12.ts" -> 12); -1 when it has none.
long segment_number(const std::string& name) {
    size_t end = name.rfind(".ts");
    if (end == std::string::npos) return -1;
    size_t start = end;
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
    if (start == end) return -1;
    return std::atol(name.substr(start, end - start).c_str());
}

}  // namespace

std::string cli_executable() {
    return VELTRONA_CLI_PATH;
}

CliOutput cli_run_once(const std::string& program, const std::string& data_dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program, "--data-dir", data_dir};
    argv.insert(argv.end(), args.begin(), args.end());
    CliOutput result;
    result.exit_code = run_command(argv, &result.out, 60);
    return result;
}

uint32_t cli_add(const std::string& data_dir, const std::vector<std::string>& options) {
    std::vector<std::string> args = {"add"};
    args.insert(args.end(), options.begin(), options.end());
    CliOutput added = cli_run_once(cli_executable(), data_dir, args);
    if (added.exit_code != 0) return 0;
    return static_cast<uint32_t>(std::strtoul(added.out.c_str(), nullptr, 10));
}

bool config_set_field(const std::string& data_dir, uint32_t id, size_t field, const std::string& value) {
    std::string path = data_dir + "/config.tsv";
    std::string text = read_file(path);
    std::string mark = "W\t" + std::to_string(id) + "\t";
    size_t record = text.find(mark);
    if (record == std::string::npos || (record > 0 && text[record - 1] != '\n')) return false;
    size_t start = record;
    for (size_t i = 0; i < field; ++i) {
        start = text.find('\t', start);
        if (start == std::string::npos) return false;
        ++start;
    }
    size_t end = text.find_first_of("\t\r\n", start);
    if (end == std::string::npos) end = text.size();
    text.replace(start, end - start, value);
    write_file(path, text);
    return true;
}

std::string install_program_with_ytdlp(const std::string& folder, const std::string& tool_text) {
    std::string bin = folder + "/bin";
    std::filesystem::create_directories(bin + "/tools");
    std::string program = bin + "/veltrona-cli";
    std::filesystem::copy_file(cli_executable(), program, std::filesystem::copy_options::overwrite_existing);
    write_file(bin + "/tools/yt-dlp", tool_text, 0755);
    return program;
}

unsigned thread_count(pid_t pid) {
    std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("\nThreads:");
    return at == std::string::npos ? 0u : static_cast<unsigned>(std::strtoul(status.c_str() + at + 9, nullptr, 10));
}

bool CliProcess::start(const std::string& program, const std::string& data_dir, const std::vector<std::string>& args) {
    return start_command({program, "--data-dir", data_dir}, data_dir, args);
}

bool CliProcess::start_command(const std::vector<std::string>& command, const std::string& out_dir,
                               const std::vector<std::string>& args) {
    out_path_ = out_dir + "/cli-run.out";
    std::vector<std::string> argv = command;
    argv.push_back("run");
    argv.insert(argv.end(), args.begin(), args.end());
    return child_.start(argv, out_path_);
}

std::vector<std::string> CliProcess::lines() const {
    return split_lines(output(), true);
}

std::string CliProcess::output() const {
    return read_file(out_path_);
}

std::optional<size_t> CliProcess::wait_for_line(bool (*match)(const std::string& line, const std::string& wanted),
                                                const std::string& wanted, uint32_t timeout_ms, size_t from) {
    uint64_t deadline = tick_ms() + timeout_ms;
    for (;;) {
        bool ended = !child_.running();  // read before the output, so nothing printed last is missed
        std::vector<std::string> all = lines();
        for (size_t i = from; i < all.size(); ++i) {
            if (match(all[i], wanted)) return i;
        }
        if (ended || tick_ms() >= deadline) return std::nullopt;
        sleep_ms(POLL_MS);
    }
}

std::optional<size_t> CliProcess::wait_for(const std::string& text, uint32_t timeout_ms, size_t from) {
    return wait_for_line(
        [](const std::string& line, const std::string& wanted) { return line.find(wanted) != std::string::npos; }, text,
        timeout_ms, from);
}

std::optional<size_t> CliProcess::wait_for_state(const std::string& state, uint32_t timeout_ms, size_t from) {
    return wait_for_line(
        [](const std::string& line, const std::string& wanted) { return status_line_state(line) == wanted; }, state,
        timeout_ms, from);
}

std::vector<std::string> CliProcess::states() const {
    std::vector<std::string> states;
    for (const std::string& line : lines()) {
        std::string state = status_line_state(line);
        if (!state.empty()) states.push_back(state);
    }
    return states;
}

int CliProcess::terminate(uint32_t limit_ms, uint64_t* took_ms) {
    uint64_t began = tick_ms();
    if (child_.pid() > 0) kill(child_.pid(), SIGTERM);
    while (child_.running() && tick_ms() - began < limit_ms) sleep_ms(1);
    if (took_ms) *took_ms = tick_ms() - began;
    return child_.stop(0);
}

int CliProcess::wait_exit(uint32_t limit_ms) {
    uint64_t began = tick_ms();
    while (child_.running() && tick_ms() - began < limit_ms) sleep_ms(POLL_MS);
    bool ended = !child_.running();
    int status = child_.stop(0);
    return ended ? status : -1;
}

std::string status_line_state(const std::string& line) {
    static const char* const names[] = {"STARTING PLAYBACK", "RECONNECTING", "LIVE ENDED", "COMPLETED", "RECORDING",
                                        "STREAMING",         "RESOLVING",    "STARTING",   "STOPPED",   "WAITING",
                                        "PLAYING",           "UNKNOWN",      "ERROR"};
    // "YYYY-MM-DD HH:MM:SS #ID STATE text"
    if (line.size() < 21 || line[4] != '-' || line[10] != ' ' || line[19] != ' ' || line[20] != '#') return "";
    size_t space = line.find(' ', 21);
    if (space == std::string::npos) return "";
    std::string rest = line.substr(space + 1);
    for (const char* name : names) {
        std::string candidate = name;
        if (rest.rfind(candidate, 0) == 0 && (rest.size() == candidate.size() || rest[candidate.size()] == ' ')) {
            return candidate;
        }
    }
    return "";
}

bool in_order(const std::vector<std::string>& states, const std::vector<std::string>& wanted) {
    size_t next = 0;
    for (const std::string& state : states) {
        if (next < wanted.size() && state == wanted[next]) ++next;
    }
    return next == wanted.size();
}

bool LiveHls::start(const std::string& folder, double seconds) {
    folder_ = folder;
    return child_.start(ffmpeg_hls_command(folder, seconds, true), folder + "/../ffmpeg.log");
}

bool LiveHls::wait_for_segments(size_t count, uint32_t timeout_ms) const {
    uint64_t deadline = tick_ms() + timeout_ms;
    while (tick_ms() < deadline) {
        if (playlist_segments(folder_).size() >= count) return true;
        sleep_ms(50);
    }
    return false;
}

std::vector<std::string> playlist_segments(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& line : split_lines(read_file(folder + "/live.m3u8"), false)) {
        std::string name = line;
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (!name.empty() && name[0] != '#') names.push_back(name);
    }
    return names;
}

std::vector<std::string> segment_files_in_order(const std::string& folder) {
    std::vector<std::pair<long, std::string>> numbered;
    for (const std::string& path : files_with_suffix(folder, ".ts")) {
        std::string name = path.substr(path.rfind('/') + 1);
        long number = segment_number(name);
        if (number >= 0) numbered.emplace_back(number, name);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> names;
    for (const auto& [number, name] : numbered) names.push_back(name);
    return names;
}

bool is_contiguous_segment_run(const std::string& recording, const std::string& folder, size_t* first, size_t* count) {
    std::vector<std::string> names = segment_files_in_order(folder);
    std::string bytes = read_file(recording);
    if (bytes.empty()) return false;
    for (size_t start = 0; start < names.size(); ++start) {
        size_t at = 0, used = 0;
        for (size_t i = start; i < names.size() && at < bytes.size(); ++i) {
            std::string segment = read_file(folder + "/" + names[i]);
            if (segment.empty() || bytes.compare(at, segment.size(), segment) != 0) break;
            at += segment.size();
            ++used;
        }
        if (used > 0 && at == bytes.size()) {
            *first = start;
            *count = used;
            return true;
        }
    }
    return false;
}

std::vector<std::string> files_with_suffix(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> found;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > suffix.size() && name.ends_with(suffix)) found.push_back(folder + "/" + name);
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string only_file_with_suffix(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> found = files_with_suffix(folder, suffix);
    return found.size() == 1 ? found[0] : "";
}
