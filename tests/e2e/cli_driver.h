// Driving the real veltrona-cli from end-to-end tests: one command to
// completion, or a long `run` as a child process whose output goes to a file
// that the test polls for status lines ("2026-12-06 10:00:00 #3 LIVE ENDED
// text") and stops with SIGTERM, as a user's Ctrl-C or a service manager
// would. E2eTest holds what every suite sets up: a test folder, nginx, a live
// ffmpeg HLS writer into nginx's folder and the program's data folder, and
// the checks every suite makes of a run.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/child.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

// A command line that starts the program with its data folder (the built
// veltrona-cli, a copy, or Wine and the Windows build).
using Program = std::vector<std::string>;

std::string cli_executable();
// `program args...` to completion (bounded to 120 s): its exit code, stdout in `out`.
int cli_once(const Program& program, const std::vector<std::string>& args, std::string* out = nullptr);
// `add options...`: the new workflow's id, 0 when refused.
uint32_t cli_add(const Program& program, const std::vector<std::string>& options);
// `add` options of a workflow of `type` (a Direct Restream by default), and `more`.
std::vector<std::string> workflow_options(const std::string& source, const std::string& output,
                                          const std::string& source_type = "direct", const std::string& type = "direct",
                                          const std::vector<std::string>& more = {});
// Rewrites field `field` (0: the mark "W") of workflow `id` in DATA/config.tsv.
bool config_set_field(const std::string& data_dir, uint32_t id, size_t field, const std::string& value);
// True when `wanted` occur in `states` in this order (others may lie between).
bool in_order(const std::vector<std::string>& states, const std::vector<std::string>& wanted);

class CliProcess {
  public:
    // Starts `program run args...`, stdout and stderr to OUT_DIR/cli-run.out.
    bool start(const Program& program, const std::string& out_dir, const std::vector<std::string>& args);
    std::string output() const { return read_file(out_path_); }
    std::vector<std::string> lines() const;  // complete lines only
    std::vector<std::string> states() const;
    // The first line from `from` on that holds `text` (or is a status line of
    // `state`); nothing after `timeout_ms` or once the process ended without it.
    std::optional<size_t> wait_for(const std::string& text, uint32_t timeout_ms, size_t from = 0);
    std::optional<size_t> wait_for_state(const std::string& state, uint32_t timeout_ms, size_t from = 0);
    // Up to `limit_ms` for the process to end (after SIGTERM, or by itself):
    // its status as waitpid gives it, or -1 when it was still running (killed).
    int terminate(uint32_t limit_ms);
    int wait_exit(uint32_t limit_ms);
    pid_t pid() const { return child_.pid(); }

  private:
    std::optional<size_t> wait_line(const std::function<bool(const std::string&)>& match, uint32_t timeout_ms,
                                    size_t from);
    std::string out_path_;
    Child child_;
};

// The files in `folder` whose names end with `suffix`, sorted.
std::vector<std::string> files_with_suffix(const std::string& folder, const std::string& suffix);
// Pictures decoded from a recording of the fixtures' 320x240 clips, packed
// RGB, for the overlay checks.
constexpr int FRAME_WIDTH = 320, FRAME_HEIGHT = 240;
using Rgb = std::array<int, 3>;
constexpr Rgb GREEN{0, 255, 0}, BLUE{0, 0, 255}, MAGENTA{255, 0, 255};
// `per_second` frames a second of `path`, decoded by ffmpeg into `folder`.
std::vector<std::string> decoded_frames(const std::string& path, const std::string& folder, int per_second);
// The share of pixels in rows [top, bottom) and columns [left, right) close to `colour`.
double share_near(const std::string& frame, int top, int bottom, int left, int right, Rgb colour);
// The most a frame of [first, last) shows of `colour` in a band of the
// bottom `rows` rows (a band scrolls in from the right, so only some frames
// are covered), 4 rows in from its edges.
double best_band_share(const std::vector<std::string>& frames, size_t first, size_t last, int rows, Rgb colour);

// nginx's recording of a publish: these codecs (in any order), each stream's
// DTS never going back.
void expect_clean_flv(const std::string& flv, const std::string& codecs);

// Wine's runner and the Windows build the Wine runs take their programs from.
constexpr const char* WINE = "/usr/lib/wine/wine64";
inline const std::string WINDOWS_BUILD = std::string(VELTRONA_SOURCE_DIR) + "/build/windows";

class E2eTest : public ::testing::Test {
  protected:
    void start_nginx(const NginxOptions& options = {.rtmp = true, .http = true});
    // ffmpeg writing a live stream of `seconds` into nginx's folder (or
    // `command`, a writer of the test's own); waits until its playlist
    // www/live.m3u8 lists `segments`.
    void start_live(size_t segments = 2, double seconds = 90, std::vector<std::string> command = {});
    void end_live() { (void)live.stop(10000); }  // SIGTERM: ffmpeg ends the playlist
    Program program(const std::string& executable = cli_executable()) const {
        return {executable, "--data-dir", data_dir};
    }
    // From here on runs go to veltrona-cli.exe under Wine, in a fresh Wine
    // prefix under the Windows build folder (its server ended with the
    // test); false when Wine or the Windows build is missing.
    bool use_wine();
    void TearDown() override;
    // The program runs use (the Linux one, or Wine's), and a file path as it spells it.
    Program runner() const;
    std::string native_path(const std::string& path) const { return wine_prefix.empty() ? path : "Z:" + path; }
    // A copy of veltrona-cli in `folder`/bin with `script` as tools/yt-dlp
    // beside it, where the program looks first; the copy's path.
    std::string install_with_ytdlp(const std::string& folder, const std::string& script) const;
    // Adds a workflow and starts `run args... ID` (by `runner`, or program()
    // when empty); the id, 0 when it was refused or did not start.
    uint32_t add_and_run(const std::vector<std::string>& options, std::vector<std::string> args = {},
                         const Program& runner = {});
    // Waits for the run's own end (`run --seconds`), ends the live writer and
    // stops nginx, so its recordings are whole; the seconds since `since`.
    double wait_run_end(uint32_t limit_s, uint64_t since);
    // A user's stop: the program exits cleanly within 2 s of SIGTERM.
    void stop_run() { EXPECT_EQ(cli.terminate(2000), 0) << cli.output(); }
    // The states came in this order, with no RECONNECTING or ERROR among them.
    void expect_states(const std::vector<std::string>& wanted);
    // Every one of `lines` is in workflow `id`'s log, and `key` is not.
    void expect_log(uint32_t id, const std::vector<std::string>& lines, const std::string& key = "");
    // How many of the live writer's segments (live<first>.ts on) our TS
    // recording is, back to back; 0 when it is not such a run.
    size_t recorded_segments(size_t* first = nullptr) const;
    std::string recording_ts() const;  // our only TS recording ("" when none or many)
    // How many segment files the live writer made, listed or no longer listed.
    size_t segment_file_count() const;

    TempDir dir;
    NginxServer nginx;
    Child live;
    CliProcess cli;
    std::string data_dir = dir.file("data");
    std::string wine_prefix;  // empty: the Linux program
};
