// External tools run as child processes: finding them (tools/ beside the
// executable, then PATH), running one with its standard output and error
// captured on one pipe under a time limit, and yt-dlp's resolution of a
// YouTube page into its HLS URL.
//
// Children are started with an argument vector, never through a shell, so
// no argument text can be misread as another argument.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RunContext;
struct Workflow;

#ifdef _WIN32
constexpr const char* YTDLP_FILE_NAME = "yt-dlp.exe";
constexpr const char* NODE_RELATIVE_PATH = "tools\\node\\node.exe";
#else
constexpr const char* YTDLP_FILE_NAME = "yt-dlp";
constexpr const char* NODE_RELATIVE_PATH = "tools/node/node";
#endif
constexpr uint32_t TOOL_PROBE_LIMIT_MS = 30000;
constexpr uint32_t YTDLP_RESOLVE_LIMIT_MS = 60000;
constexpr uint32_t FORCED_END_EXIT_CODE = 1223;
constexpr size_t YTDLP_REASON_CAPACITY = 200;  // UTF-16 units of yt-dlp's line kept in a failure text
constexpr size_t TOOL_PATH_CAPACITY = 260;

struct ArgList {
    std::vector<std::string> args;
};

struct ToolOutput {
    uint32_t exit_code = 0;
    std::string output;  // standard output and error as they interleaved
};

void arglist_append(ArgList& list, std::string_view argument);

// "<program_dir>/tools/<name>" when it exists, else the first executable
// "<dir>/<name>" on PATH whose path is shorter than 260 characters.
[[nodiscard]] bool tool_find(const std::string& program_dir, std::string_view name, std::string* path);

// Runs the tool; false only when it could not be started. A child still
// running after `limit_ms` (0 = no limit) is killed, with its whole process
// group, and reports exit code 1223.
[[nodiscard]] bool tool_run_capture(const std::string& tool_path, const ArgList* args, uint32_t limit_ms,
                                    ToolOutput* output);

// True when the tool was found, ran and exited 0 within 30 s.
[[nodiscard]] bool tool_probe(const std::string& program_dir, std::string_view name, std::string_view argument);

// The yt-dlp arguments for a page, with the node runtime when it exists.
[[nodiscard]] ArgList ytdlp_arguments(const std::string& program_dir, const std::string& page_url);

// Reads yt-dlp's answer: an optional "ZQ_STATUS:<live_status>" line, then the URL.
[[nodiscard]] bool ytdlp_parse_answer(std::string_view output, std::string* url, bool* not_live);

// Resolves the workflow's source page. False when yt-dlp is missing, fails,
// or gives no URL, with the reason in `why` when given (yt-dlp's own error
// line where it printed one); `not_live` is set when the status says the
// live has not begun (or has ended).
[[nodiscard]] bool ytdlp_resolve(Workflow& workflow, std::string* url, bool* not_live, std::string* why = nullptr);

// The background probe the desktop program starts once: stores the result
// in ytdlp_ok and notifies the front end with TOOL_PROBE_DONE.
void ytdlp_probe_thread(RunContext& run);
