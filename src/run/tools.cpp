// Tool discovery, capture and yt-dlp's answer.
//
// yt-dlp is asked to print "ZQ_STATUS:<live_status>" before the stream URL.
// Its standard error shares the pipe, so a message printed before the
// status line becomes the first line; the answer is then not trusted (it
// has no "://" and resolution fails) rather than guessed at.
#include "run/tools.h"

#include <cstdlib>
#include <utility>

#include "platform/files/folders.h"
#include "platform/process/process.h"
#include "platform/text/text.h"
#include "run/run_context.h"
#include "workflow/workflow.h"

namespace {

constexpr const char* STATUS_PREFIX = "ZQ_STATUS:";

bool search_path(std::string_view name, std::string* path) {
    const char* env = std::getenv("PATH");
    std::string_view dirs = env ? env : "";
    while (!dirs.empty()) {
        size_t end = dirs.find(PATH_LIST_SEPARATOR);
        std::string_view dir = dirs.substr(0, end);
        dirs = end == std::string_view::npos ? std::string_view() : dirs.substr(end + 1);
        if (dir.empty()) continue;
        std::string candidate = path_join(std::string(dir), std::string(name));
        if (is_executable_file(candidate)) {
            *path = candidate;
            return true;
        }
    }
    return false;
}

// Lines of `text`, split at CR and LF, empty ones skipped.
std::vector<std::string_view> answer_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        if (!line.empty()) lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// yt-dlp's own words on a failure: its last "ERROR:" line, else its last
// line, cut so a chatty tool cannot flood the last error. Colours and other
// control characters are dropped: the text goes to the log and the screen.
std::string ytdlp_failure_line(std::string_view output) {
    std::string last, last_error;
    for (std::string_view line : answer_lines(output)) {
        std::string printable = printable_line(line);
        (printable.starts_with("ERROR:") ? last_error : last) = std::move(printable);
    }
    return utf16_fit(last_error.empty() ? last : last_error, YTDLP_REASON_CAPACITY);
}

bool ytdlp_resolve_once(Workflow& workflow, std::string* url, bool* not_live, std::string* why) {
    if (!workflow.context) return false;
    std::string source = workflow_settings_copy(workflow).source;
    std::string tool;
    if (!tool_find(workflow.context->program_dir, YTDLP_FILE_NAME, &tool)) {
        *why = "yt-dlp was not found";
        return false;
    }
    ArgList args = ytdlp_arguments(workflow.context->program_dir, source);
    ToolOutput output;
    if (!tool_run_capture(tool, &args, YTDLP_RESOLVE_LIMIT_MS, &output)) {
        *why = "yt-dlp could not be started";
        return false;
    }
    if (output.exit_code == FORCED_END_EXIT_CODE) {
        *why = string_printf("yt-dlp gave no answer within %u s", YTDLP_RESOLVE_LIMIT_MS / 1000);
        return false;
    }
    if (output.exit_code != 0) {
        std::string line = ytdlp_failure_line(output.output);
        *why =
            string_printf("yt-dlp exited with code %u%s%s", output.exit_code, line.empty() ? "" : ": ", line.c_str());
        return false;
    }
    if (!ytdlp_parse_answer(output.output, url, not_live)) {
        *why = "yt-dlp gave no stream URL";
        return false;
    }
    return true;
}

}  // namespace

void arglist_append(ArgList& list, std::string_view argument) {
    list.args.emplace_back(argument);
}

bool tool_find(const std::string& program_dir, std::string_view name, std::string* path) {
    std::string beside = path_join(path_join(program_dir, "tools"), std::string(name));
    if (!program_dir.empty() && is_executable_file(beside)) {
        *path = beside;
        return true;
    }
    std::string found;
    if (!search_path(name, &found) || found.size() >= TOOL_PATH_CAPACITY) return false;
    *path = found;
    return true;
}

bool tool_run_capture(const std::string& tool_path, const ArgList* args, uint32_t limit_ms, ToolOutput* output) {
    std::vector<std::string> argv = {tool_path};
    if (args) argv.insert(argv.end(), args->args.begin(), args->args.end());
    ProcessResult result;
    if (!process_run_capture(argv, limit_ms, FORCED_END_EXIT_CODE, &result)) return false;
    output->exit_code = result.exit_code;
    output->output = std::move(result.output);
    return true;
}

bool tool_probe(const std::string& program_dir, std::string_view name, std::string_view argument) {
    std::string path;
    if (!tool_find(program_dir, name, &path)) return false;
    ArgList args;
    arglist_append(args, argument);
    ToolOutput output;
    return tool_run_capture(path, &args, TOOL_PROBE_LIMIT_MS, &output) && output.exit_code == 0;
}

ArgList ytdlp_arguments(const std::string& program_dir, const std::string& page_url) {
    ArgList args;
    arglist_append(args, "--compat-options");
    arglist_append(args, "no-certifi");
    std::string node = path_join(program_dir, NODE_RELATIVE_PATH);
    if (!program_dir.empty() && path_exists(node)) {
        arglist_append(args, "--js-runtimes");
        arglist_append(args, "node:" + node);
    }
    for (const char* fixed : {"--no-playlist", "--no-warnings", "--print", "ZQ_STATUS:%(live_status)s", "--get-url",
                              "-f", "best[protocol^=m3u8]/best"}) {
        arglist_append(args, fixed);
    }
    arglist_append(args, page_url);
    return args;
}

bool ytdlp_parse_answer(std::string_view output, std::string* url, bool* not_live) {
    url->clear();
    *not_live = false;
    std::vector<std::string_view> lines = answer_lines(output);
    if (lines.empty()) return false;
    std::string_view candidate = lines[0];
    if (candidate.substr(0, std::string_view(STATUS_PREFIX).size()) == STATUS_PREFIX) {
        *not_live = candidate.substr(std::string_view(STATUS_PREFIX).size()) != "is_live";
        candidate = lines.size() > 1 ? lines[1] : std::string_view();
    }
    if (candidate.find("://") == std::string_view::npos) return false;
    *url = std::string(candidate);
    return true;
}

bool ytdlp_resolve(Workflow& workflow, std::string* url, bool* not_live, std::string* why) {
    url->clear();
    *not_live = false;
    std::string reason;
    bool ok = ytdlp_resolve_once(workflow, url, not_live, &reason);
    if (why) *why = std::move(reason);
    return ok;
}

void ytdlp_probe_thread(RunContext& run) {
    run.ytdlp_ok = tool_probe(run.program_dir, YTDLP_FILE_NAME, "--version") ? 1 : 0;
    run_notify(run, TOOL_PROBE_DONE);
}
