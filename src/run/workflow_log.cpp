// Line-at-a-time logging. Each line is one write on a file opened for
// appending, so lines from different processes or a reader never interleave
// mid-line. The size check comes before the write: a file of exactly 2 MiB
// still takes the next line; anything larger is emptied first.
#include "run/workflow_log.h"

#include <cstdio>

#include "platform/files/files.h"
#include "platform/files/folders.h"
#include "platform/text/text.h"
#include "platform/time/clock.h"
#include "run/run_context.h"
#include "workflow/workflow.h"

namespace {

std::string format_message(const char* format, va_list args) {
    char buffer[LOG_MESSAGE_CAPACITY * 4];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    std::string message;
    if (needed < 0) return message;
    if (static_cast<size_t>(needed) < sizeof buffer) {
        message.assign(buffer, static_cast<size_t>(needed));
    } else {
        message.resize(static_cast<size_t>(needed));
        std::vsnprintf(message.data(), message.size() + 1, format, args);
    }
    return utf16_fit(message, LOG_MESSAGE_CAPACITY);
}

}  // namespace

void log_append_line(const std::string& path, const char* format, va_list args) {
    if (path.empty()) return;
    std::string message = format_message(format, args);
    std::string line = local_time_text(local_time_now()) + " ";
    line += message;
    line += '\n';
    file_append_private(path, line, LOG_SIZE_LIMIT);
}

void log_workflow(Workflow& workflow, const char* format, ...) {
    if (workflow.log_path.empty() && workflow.context && !workflow.context->logs_dir.empty()) {
        // Start-up refuses a logs folder where this path would not fit; a cut
        // one would be another file, so a path that does not fit logs nothing.
        std::string path = path_join(workflow.context->logs_dir, string_printf("workflow-%u.log", workflow.id));
        if (path_fits(path)) workflow.log_path = path;
    }
    va_list args;
    va_start(args, format);
    log_append_line(workflow.log_path, format, args);
    va_end(args);
}

int workflow_report_engine_error(Workflow& workflow, std::string_view message, const char* prefix) {
    std::string text = message.empty() ? std::string("Native operation failed") : std::string(message);
    text = utf16_fit(text, ENGINE_TEXT_CAPACITY);
    workflow_set_last_error(workflow, text);
    log_workflow(workflow, "%s: %s", prefix, text.c_str());
    return 0;
}
