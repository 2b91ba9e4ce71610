// Driving the real veltrona-cli executable from end-to-end tests.
//
//   cli_run_once  one command to completion (edit, delete), its output back
//   cli_add       `add` to completion, the new workflow's id back
//   CliProcess    a long `run` as a child process whose stdout goes to a
//                 file; the test polls that file for status lines, times
//                 when each appeared, and stops the process with SIGTERM
//                 the way a user's Ctrl-C or a service manager would
//
// Status lines look like "2026-12-06 10:00:00 #3 LIVE ENDED <text>"; the
// state is read from the known state names, longest first, so "STARTING
// PLAYBACK" is not taken for "STARTING".
//
// Beside it, helpers for the media the tests feed in and check: a live
// ffmpeg HLS writer, the segment files it left, and the rule that a TS
// recording is a contiguous run of those segment files, byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/app_fixture.h"
#include "support/child.h"

// The built veltrona-cli executable.
std::string cli_executable();

struct CliOutput {
    int exit_code = -1;
    std::string out;
};
// Runs `program --data-dir DATA args...` to completion (bounded to 60 s).
CliOutput cli_run_once(const std::string& program, const std::string& data_dir, const std::vector<std::string>& args);
// `add` with the given options; the new workflow's id, 0 when refused.
uint32_t cli_add(const std::string& data_dir, const std::vector<std::string>& options);
// Rewrites one tab-separated field of workflow `id` in DATA/config.tsv
// (field 0 is the record mark "W"); false when the record is not there.
bool config_set_field(const std::string& data_dir, uint32_t id, size_t field, const std::string& value);

// Copies veltrona-cli to `folder`/bin and puts `tool_text` there as
// tools/yt-dlp, where the program looks first; the copy's path.
std::string install_program_with_ytdlp(const std::string& folder, const std::string& tool_text);

// The number of threads of a running process (0 when it cannot be read).
unsigned thread_count(pid_t pid);

class CliProcess {
  public:
    // Starts `program --data-dir DATA run args...`, stdout and stderr to
    // DATA/cli-run.out.
    bool start(const std::string& program, const std::string& data_dir, const std::vector<std::string>& args);
    // The same for a command line that ends before "run" (a loader, the
    // program and its options), with the output in OUT_DIR/cli-run.out.
    bool start_command(const std::vector<std::string>& command, const std::string& out_dir,
                       const std::vector<std::string>& args);
    // Everything printed so far, one entry per complete line.
    std::vector<std::string> lines() const;
    std::string output() const;
    // Waits until a line holding `text` appears from index `from` on; its
    // index, or nothing after `timeout_ms` or once the process ended.
    std::optional<size_t> wait_for(const std::string& text, uint32_t timeout_ms, size_t from = 0);
    // Waits until a status line of `state` ("STREAMING", "LIVE ENDED") from
    // index `from` on; that line's index, or nothing after `timeout_ms` (or
    // when the process ended and the state never came).
    std::optional<size_t> wait_for_state(const std::string& state, uint32_t timeout_ms, size_t from = 0);
    // States of every status line, in order.
    std::vector<std::string> states() const;
    // SIGTERM, then waits up to `limit_ms` for the exit; the milliseconds
    // from the signal to the observed exit in `took_ms`. The exit status as
    // waitpid gives it (the process is killed after the limit).
    int terminate(uint32_t limit_ms, uint64_t* took_ms);
    // Waits up to `limit_ms` for the process to end by itself; its status,
    // or -1 when it was still running (it is then killed).
    int wait_exit(uint32_t limit_ms);
    pid_t pid() const { return child_.pid(); }

  private:
    std::optional<size_t> wait_for_line(bool (*match)(const std::string& line, const std::string& wanted),
                                        const std::string& wanted, uint32_t timeout_ms, size_t from);
    std::string out_path_;
    Child child_;
};

// The state name of one status line ("" when it is not one).
std::string status_line_state(const std::string& line);
// True when `wanted` occur in `states` in this order (others may lie between).
bool in_order(const std::vector<std::string>& states, const std::vector<std::string>& wanted);

// ffmpeg writing a live HLS stream (2 s segments, kept on disk) into a folder.
class LiveHls {
  public:
    bool start(const std::string& folder, double seconds);
    // Waits until the playlist lists at least `count` segments.
    bool wait_for_segments(size_t count, uint32_t timeout_ms) const;
    // SIGTERM: ffmpeg closes the playlist with an end list, the live ends.
    void end() { (void)child_.stop(10000); }

  private:
    std::string folder_;
    Child child_;
};

// The segments a playlist in `folder` lists, in order (file names).
std::vector<std::string> playlist_segments(const std::string& folder);
// The .ts files of `folder` ordered by the number in their name (live0.ts,
// live1.ts, ...): every segment ffmpeg wrote, listed or no longer listed.
std::vector<std::string> segment_files_in_order(const std::string& folder);
// Checks that `recording` is exactly segment files [first, first + count)
// of `folder`, concatenated; the run found in `first` and `count`.
bool is_contiguous_segment_run(const std::string& recording, const std::string& folder, size_t* first, size_t* count);
// The only file in `folder` whose name ends with `suffix` ("" when none or many).
std::string only_file_with_suffix(const std::string& folder, const std::string& suffix);
// Every file in `folder` whose name ends with `suffix`, sorted by name.
std::vector<std::string> files_with_suffix(const std::string& folder, const std::string& suffix);
