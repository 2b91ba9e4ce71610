// Every wait is bounded; the child's output is read again from its file on
// each poll (it is small: one line per status change).
#include "e2e/cli_driver.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "support/media_fixtures.h"
#include "support/wait.h"

namespace {

std::vector<std::string> split_lines(const std::string& text, bool complete_only) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (complete_only && in.eof()) break;       // no newline after it yet
        if (line.ends_with('\r')) line.pop_back();  // the Windows build ends lines with CR LF
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::string cli_executable() {
    return VELTRONA_CLI_PATH;
}

int cli_once(const Program& program, const std::vector<std::string>& args, std::string* out) {
    std::vector<std::string> argv = program;
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, out, 120);
}

uint32_t cli_add(const Program& program, const std::vector<std::string>& options) {
    std::vector<std::string> args = {"add"};
    args.insert(args.end(), options.begin(), options.end());
    std::string out;
    return cli_once(program, args, &out) == 0 ? static_cast<uint32_t>(std::strtoul(out.c_str(), nullptr, 10)) : 0;
}

std::vector<std::string> direct_workflow(const std::string& source, const std::string& output,
                                         const std::string& source_type) {
    return {"--type",   "direct",   "--source-type", source_type, "--name",
            "Restream", "--source", source,          "--output",  output};
}

bool config_set_field(const std::string& data_dir, uint32_t id, size_t field, const std::string& value) {
    std::string path = data_dir + "/config.tsv", text = read_file(path);
    size_t start = text.find("W\t" + std::to_string(id) + "\t");
    if (start == std::string::npos || (start > 0 && text[start - 1] != '\n')) return false;
    for (size_t i = 0; i < field && start != std::string::npos; ++i) {
        start = text.find('\t', start);
        if (start != std::string::npos) ++start;
    }
    if (start == std::string::npos) return false;
    text.replace(start, std::min(text.find_first_of("\t\r\n", start), text.size()) - start, value);
    write_file(path, text);
    return true;
}

std::string status_line_state(const std::string& line) {
    static const char* const names[] = {"STARTING PLAYBACK", "RECONNECTING", "LIVE ENDED", "COMPLETED", "RECORDING",
                                        "STREAMING",         "RESOLVING",    "STARTING",   "STOPPED",   "WAITING",
                                        "PLAYING",           "UNKNOWN",      "ERROR"};
    if (line.size() < 21 || line[4] != '-' || line[19] != ' ' || line[20] != '#') return "";
    std::string rest = line.substr(std::min(line.find(' ', 21), line.size() - 1) + 1) + " ";
    for (const char* name : names) {
        if (rest.starts_with(std::string(name) + " ")) return name;
    }
    return "";
}

bool in_order(const std::vector<std::string>& states, const std::vector<std::string>& wanted) {
    size_t next = 0;
    for (const std::string& state : states) next += next < wanted.size() && state == wanted[next];
    return next == wanted.size();
}

bool CliProcess::start(const Program& program, const std::string& out_dir, const std::vector<std::string>& args) {
    out_path_ = out_dir + "/cli-run.out";
    std::filesystem::create_directories(out_dir);
    std::vector<std::string> argv = program;
    argv.push_back("run");
    argv.insert(argv.end(), args.begin(), args.end());
    return child_.start(argv, out_path_);
}

std::string CliProcess::output() const {
    return read_file(out_path_);
}

std::vector<std::string> CliProcess::lines() const {
    return split_lines(output(), true);
}

std::vector<std::string> CliProcess::states() const {
    std::vector<std::string> states;
    for (const std::string& line : lines()) {
        if (std::string state = status_line_state(line); !state.empty()) states.push_back(state);
    }
    return states;
}

std::optional<size_t> CliProcess::wait_line(const std::function<bool(const std::string&)>& match, uint32_t timeout_ms,
                                            size_t from) {
    for (uint64_t deadline = tick_ms() + timeout_ms;;) {
        bool ended = !child_.running();  // read before the output, so nothing printed last is missed
        std::vector<std::string> all = lines();
        for (size_t i = from; i < all.size(); ++i) {
            if (match(all[i])) return i;
        }
        if (ended || tick_ms() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::optional<size_t> CliProcess::wait_for(const std::string& text, uint32_t timeout_ms, size_t from) {
    return wait_line([&](const std::string& line) { return line.find(text) != std::string::npos; }, timeout_ms, from);
}

std::optional<size_t> CliProcess::wait_for_state(const std::string& state, uint32_t timeout_ms, size_t from) {
    return wait_line([&](const std::string& line) { return status_line_state(line) == state; }, timeout_ms, from);
}

int CliProcess::terminate(uint32_t limit_ms, uint64_t* took_ms) {
    uint64_t began = tick_ms();
    if (child_.pid() > 0) kill(child_.pid(), SIGTERM);
    (void)wait_until([&] { return !child_.running(); }, limit_ms);
    if (took_ms) *took_ms = tick_ms() - began;
    return child_.stop(0);
}

int CliProcess::wait_exit(uint32_t limit_ms) {
    bool ended = wait_until([&] { return !child_.running(); }, limit_ms);
    int status = child_.stop(0);
    return ended ? status : -1;
}

std::vector<std::string> playlist_segments(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& line : split_lines(read_file(folder + "/live.m3u8"), false)) {
        if (!line.empty() && line[0] != '#') names.push_back(line);
    }
    return names;
}

std::vector<std::string> files_with_suffix(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> found;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        if (entry.path().string().ends_with(suffix)) found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string only_file_with_suffix(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> found = files_with_suffix(folder, suffix);
    return found.size() == 1 ? found[0] : "";
}

size_t segment_file_count(const std::string& folder) {
    size_t count = 0;
    while (std::filesystem::exists(folder + "/live" + std::to_string(count) + ".ts")) ++count;
    return count;
}

bool is_contiguous_segment_run(const std::string& recording, const std::string& folder, size_t* first, size_t* count) {
    const std::string bytes = read_file(recording);
    for (size_t start = 0; !bytes.empty() && start < segment_file_count(folder); ++start) {
        size_t at = 0, used = 0;
        for (std::string segment; at < bytes.size(); at += segment.size(), ++used) {
            segment = read_file(folder + "/live" + std::to_string(start + used) + ".ts");
            if (segment.empty() || bytes.compare(at, segment.size(), segment) != 0) break;
        }
        if (used > 0 && at == bytes.size()) {
            *first = start;
            *count = used;
            return true;
        }
    }
    return false;
}

void expect_clean_flv(const std::string& flv, const std::string& codecs) {
    ASSERT_FALSE(flv.empty()) << "nginx recorded nothing";
    auto sorted = [](const std::string& list) {  // the order nginx met the streams in is no fault
        std::vector<std::string> names = split_lines(std::regex_replace(list, std::regex(","), "\n"), false);
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(sorted(probe_codecs(flv)), sorted(codecs)) << flv;
    for (auto [codec, stream] : {std::pair{"h264", 'v'}, {"aac", 'a'}}) {
        if (codecs.find(codec) != std::string::npos) {
            EXPECT_TRUE(never_goes_back(probe_dts(flv, stream))) << codec;
        }
    }
}

void E2eTest::start_nginx(const NginxOptions& options) {
    ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
}

void E2eTest::start_live(size_t segments, double seconds) {
    ASSERT_TRUE(live.start(ffmpeg_hls_command(nginx.www_dir, seconds, true), dir.file("ffmpeg.log")));
    ASSERT_TRUE(wait_until([&] { return playlist_segments(nginx.www_dir).size() >= segments; }, 20000))
        << read_file(dir.file("ffmpeg.log"));
}

std::string E2eTest::install_with_ytdlp(const std::string& folder, const std::string& script) const {
    std::filesystem::create_directories(folder + "/bin/tools");
    std::string program = folder + "/bin/veltrona-cli";
    std::filesystem::copy_file(cli_executable(), program, std::filesystem::copy_options::overwrite_existing);
    write_file(folder + "/bin/tools/yt-dlp", script, 0755);
    return program;
}

uint32_t E2eTest::add_and_run(const std::vector<std::string>& options, std::vector<std::string> args,
                              const std::string& executable) {
    uint32_t id = cli_add(program(executable), options);
    args.push_back(std::to_string(id));
    return id != 0 && cli.start(program(executable), data_dir, args) ? id : 0;
}

std::string E2eTest::workflow_log(uint32_t id) const {
    return read_file(data_dir + "/logs/workflow-" + std::to_string(id) + ".log");
}
