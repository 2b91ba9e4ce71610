// The application's own log, application.log in the logs folder, for
// start-up problems. Its lines are written, limited and dropped exactly as
// a workflow's (run/workflow_log.h).
#pragma once

#include "platform/text/format_check.h"
#include "run/workflow_log.h"

struct AppContext;

void log_app(AppContext& app, const char* format, ...) PRINTF_LIKE(2, 3);
