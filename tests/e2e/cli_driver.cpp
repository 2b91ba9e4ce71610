// Every wait is bounded; the child's output is read again from its file on
// each poll (it is small: one line per status change).
#include "e2e/cli_driver.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/time/clock.h"
#include "support/media_fixtures.h"
#include "support/wait.h"
#include "workflow/workflow.h"

namespace {

std::vector<std::string> split_lines(const std::string& text, bool complete_only, char separator = '\n') {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line, separator);) {
        if (complete_only && in.eof()) break;       // no newline after it yet
        if (line.ends_with('\r')) line.pop_back();  // the Windows build ends lines with CR LF
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::vector<std::string> playlist_segments(const std::string& folder) {
    std::vector<std::string> names = split_lines(read_file(folder + "/live.m3u8"), false);
    std::erase_if(names, [](const std::string& line) { return line.empty() || line[0] == '#'; });
    return names;
}

// The state of a status line ("" when it is not one), the longest that fits.
std::string status_line_state(const std::string& line) {
    if (line.size() < 21 || line[4] != '-' || line[19] != ' ' || line[20] != '#') return "";
    std::string rest = line.substr(std::min(line.find(' ', 21), line.size() - 1) + 1) + " ", longest;
    for (uint32_t state = 0; state <= 12; ++state) {  // 12: "UNKNOWN"
        std::string name = workflow_state_name(state);
        if (rest.starts_with(name + " ") && name.size() > longest.size()) longest = name;
    }
    return longest;
}

}  // namespace

std::string cli_executable() {
    return VELTRONA_CLI_PATH;
}

int cli_once(const Program& program, const std::vector<std::string>& args, std::string* out) {
    return run_command(joined(program, args), out, 120);
}

uint32_t cli_add(const Program& program, const std::vector<std::string>& options) {
    std::string out;
    return cli_once(program, joined({"add"}, options), &out) == 0 ? uint32_t(std::strtoul(out.c_str(), nullptr, 10))
                                                                  : 0;
}

std::vector<std::string> workflow_options(const std::string& source, const std::string& output,
                                          const std::string& source_type, const std::string& type,
                                          const std::vector<std::string>& more) {
    return joined(
        {"--type", type, "--source-type", source_type, "--name", "Restream", "--source", source, "--output", output},
        more);
}

bool config_set_field(const std::string& data_dir, uint32_t id, size_t field, const std::string& value) {
    std::string path = data_dir + "/config.tsv", text = read_file(path);
    size_t start = text.find("W\t" + std::to_string(id) + "\t");
    if (start == std::string::npos || (start > 0 && text[start - 1] != '\n')) return false;
    for (size_t i = 0; i < field && start != std::string::npos; ++i) start = text.find('\t', start + 1);
    if (start == std::string::npos) return false;
    ++start;
    text.replace(start, std::min(text.find_first_of("\t\r\n", start), text.size()) - start, value);
    write_file(path, text);
    return true;
}

bool in_order(const std::vector<std::string>& states, const std::vector<std::string>& wanted) {
    size_t next = 0;
    for (const std::string& state : states) next += next < wanted.size() && state == wanted[next];
    return next == wanted.size();
}

bool CliProcess::start(const Program& program, const std::string& out_dir, const std::vector<std::string>& args) {
    out_path_ = out_dir + "/cli-run.out";
    std::filesystem::create_directories(out_dir);
    return child_.start(joined(joined(program, {"run"}), args), out_path_);
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
        for (size_t i = from; i < all.size(); ++i)
            if (match(all[i])) return i;
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

int CliProcess::terminate(uint32_t limit_ms) {
    if (child_.pid() > 0) kill(child_.pid(), SIGTERM);
    return wait_exit(limit_ms);
}

int CliProcess::wait_exit(uint32_t limit_ms) {
    bool ended = wait_until([&] { return !child_.running(); }, limit_ms);
    int status = child_.stop(0);
    return ended ? status : -1;
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

void expect_clean_flv(const std::string& flv, const std::string& codecs) {
    ASSERT_FALSE(flv.empty()) << "nginx recorded nothing";
    auto sorted = [](const std::string& list) {  // the order nginx met the streams in is no fault
        std::vector<std::string> names = split_lines(list, false, ',');
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(sorted(probe_codecs(flv)), sorted(codecs)) << flv;
    for (auto [codec, stream] : {std::pair{"h264", 'v'}, {"aac", 'a'}}) {
        if (codecs.find(codec) != std::string::npos) {
            EXPECT_TRUE(std::ranges::is_sorted(probe_dts(flv, stream))) << codec;
        }
    }
}

std::vector<std::string> decoded_frames(const std::string& path, const std::string& folder, int per_second) {
    const std::string raw = folder + "/frames.rgb";
    run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", path, "-vf",
                 "fps=" + std::to_string(per_second), "-f", "rawvideo", "-pix_fmt", "rgb24", raw});
    const std::string bytes = read_file(raw);
    std::vector<std::string> frames;
    for (size_t at = 0, size = size_t{FRAME_WIDTH} * FRAME_HEIGHT * 3; at + size <= bytes.size(); at += size)
        frames.push_back(bytes.substr(at, size));
    return frames;
}

double share_near(const std::string& frame, int top, int bottom, int left, int right, Rgb colour) {
    size_t near = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const auto* p = reinterpret_cast<const uint8_t*>(frame.data()) + (size_t(y) * FRAME_WIDTH + x) * 3;
            near +=
                std::abs(p[0] - colour[0]) < 60 && std::abs(p[1] - colour[1]) < 60 && std::abs(p[2] - colour[2]) < 60;
        }
    }
    return double(near) / double((bottom - top) * (right - left));
}

double best_band_share(const std::vector<std::string>& frames, size_t first, size_t last, int rows, Rgb colour) {
    double best = 0;
    for (size_t i = first; i < std::min(last, frames.size()); ++i)
        best = std::max(best, share_near(frames[i], FRAME_HEIGHT - rows + 4, FRAME_HEIGHT - 4, 0, FRAME_WIDTH, colour));
    return best;
}

void E2eTest::start_nginx(const NginxOptions& options) {
    ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
}

void E2eTest::start_live(size_t segments, double seconds, std::vector<std::string> command) {
    if (command.empty()) command = ffmpeg_hls_command(nginx.www_dir, seconds, true);
    ASSERT_TRUE(live.start(command, dir.file("ffmpeg.log")));
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

bool E2eTest::use_wine() {
    if (access((WINDOWS_BUILD + "/veltrona-cli.exe").c_str(), R_OK) != 0 || access(WINE, X_OK) != 0) return false;
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');  // a parameterised test's name
    wine_prefix = WINDOWS_BUILD + "/wine-e2e-" + name;
    setenv("WINEPREFIX", wine_prefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    // The prefix is made here, so Wine's notes stay out of the program's
    // output. Now and then, while another test's prefix is made at the same
    // time, Wine's first start finds no kernel32.dll; a fresh prefix works.
    std::string out;
    for (int attempt = 1;; ++attempt) {
        std::filesystem::remove_all(wine_prefix);
        const int booted = run_command({WINE, "wineboot", "-i"}, &out, 120);
        if (booted == 0) break;
        (void)run_command({"/usr/lib/wine/wineserver64", "-k"}, nullptr, 30);
        if (attempt == 2) {
            ADD_FAILURE() << "wineboot: " << booted << "\n" << out;
            break;
        }
    }
    return true;
}

void E2eTest::TearDown() {
    if (wine_prefix.empty()) return;
    (void)run_command({"/usr/lib/wine/wineserver64", "-k"}, nullptr, 30);
    unsetenv("WINEPREFIX");
}

Program E2eTest::runner() const {
    if (wine_prefix.empty()) return program();
    return {WINE, WINDOWS_BUILD + "/veltrona-cli.exe", "--data-dir", native_path(data_dir)};
}

uint32_t E2eTest::add_and_run(const std::vector<std::string>& options, std::vector<std::string> args,
                              const Program& runner) {
    const Program chosen = runner.empty() ? this->runner() : runner;
    uint32_t id = cli_add(chosen, options);
    args.push_back(std::to_string(id));
    return id != 0 && cli.start(chosen, data_dir, args) ? id : 0;
}

double E2eTest::wait_run_end(uint32_t limit_s, uint64_t since) {
    EXPECT_EQ(cli.wait_exit(limit_s * 1000), 0) << cli.output();
    double streamed = static_cast<double>(tick_ms() - since) / 1000.0;
    end_live();
    nginx.stop();
    return streamed;
}

void E2eTest::expect_states(const std::vector<std::string>& wanted) {
    std::vector<std::string> states = cli.states();
    EXPECT_TRUE(in_order(states, wanted)) << cli.output();
    EXPECT_EQ(std::count(states.begin(), states.end(), "RECONNECTING"), 0) << cli.output();
    EXPECT_EQ(std::count(states.begin(), states.end(), "ERROR"), 0) << cli.output();
}

void E2eTest::expect_log(uint32_t id, const std::vector<std::string>& lines, const std::string& key) {
    std::string log = read_file(data_dir + "/logs/workflow-" + std::to_string(id) + ".log");
    for (const std::string& line : lines)
        EXPECT_NE(log.find(line), std::string::npos) << line << " missing from:\n" << log;
    EXPECT_TRUE(key.empty() || log.find(key) == std::string::npos) << "the stream key reached the log";
}

std::string E2eTest::recording_ts() const {
    std::vector<std::string> found = files_with_suffix(data_dir + "/recordings", ".ts");
    return found.size() == 1 ? found[0] : "";
}

size_t E2eTest::segment_file_count() const {
    size_t count = 0;
    while (std::filesystem::exists(nginx.www_dir + "/live" + std::to_string(count) + ".ts")) ++count;
    return count;
}

size_t E2eTest::recorded_segments(size_t* first) const {
    const std::string bytes = read_file(recording_ts());
    for (size_t start = 0; !bytes.empty() && start < segment_file_count(); ++start) {
        size_t at = 0, used = 0;
        for (std::string segment; at < bytes.size(); at += segment.size(), ++used) {
            segment = read_file(nginx.www_dir + "/live" + std::to_string(start + used) + ".ts");
            if (segment.empty() || bytes.compare(at, segment.size(), segment) != 0) break;
        }
        if (used > 0 && at == bytes.size()) {
            if (first) *first = start;
            return used;
        }
    }
    return 0;
}
