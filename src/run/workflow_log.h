// Plain-text logs in the logs folder: workflow-<id>.log for everything a
// runner does (and, written the same way by the front end's start-up,
// application.log). One line per event, "YYYY-MM-DD HH:MM:SS message\n" in
// local time, UTF-8. The file is opened, appended and closed for every
// line, so it can be read or deleted while the program runs; a file past
// 2 MiB is emptied before the next line. Logging never fails a caller: any
// problem drops the line.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "platform/text/format_check.h"

struct Workflow;

constexpr long LOG_SIZE_LIMIT = 0x200000;
constexpr size_t LOG_MESSAGE_CAPACITY = 4096;  // UTF-16 units, terminator included
constexpr size_t ENGINE_TEXT_CAPACITY = 512;   // the wide copy of an engine's error text

// The common step: one formatted line appended to `path`; nothing when empty.
void log_append_line(const std::string& path, const char* format, va_list args);
// The workflow's own log, its path formed from the run context's logs
// folder on the first line and kept in the workflow's log_path.
void log_workflow(Workflow& workflow, const char* format, ...) PRINTF_LIKE(2, 3);

// Records an engine's UTF-8 failure text (or "Native operation failed" when
// it is empty) as the workflow's last error and logs "<prefix>: <text>".
// Always returns 0, which the runner reads as a failed attempt.
int workflow_report_engine_error(Workflow& workflow, std::string_view message, const char* prefix);
