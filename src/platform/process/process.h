// Child processes with captured output.
//
// The child gets an argument vector (no shell), our standard input, and one
// pipe for both its standard output and error, so their lines interleave as
// written. On POSIX systems it runs in a process group of its own and a time
// limit ends the whole group, helpers the tool started included; on Windows
// it runs in a job object that a time limit terminates the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProcessResult {
    uint32_t exit_code = 0;  // the child's status; 128 + signal when a signal ended it
    bool killed = false;     // ended by us at the time limit
    std::string output;
};

// Runs argv[0] (a path) to its end, draining the pipe while it runs. After
// `limit_ms` (0 = none) the group is killed, given 3000 ms to go, and
// `killed_exit_code` is reported. False when the child could not be started.
[[nodiscard]] bool process_run_capture(const std::vector<std::string>& argv, uint32_t limit_ms,
                                       uint32_t killed_exit_code, ProcessResult* result);

// The Windows command line for `argv`: every argument in double quotes,
// with quotes and the backslashes before them escaped so that the runtime's
// parser (CommandLineToArgvW) gives the exact arguments back; backslashes
// elsewhere stay single.
[[nodiscard]] std::string process_command_line(const std::vector<std::string>& argv);

// True when `path` names an executable regular file.
[[nodiscard]] bool is_executable_file(const std::string& path);

// The id of this process, as the system's tools show it.
[[nodiscard]] uint32_t process_current_id();
