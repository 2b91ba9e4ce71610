// application.log: the path formed from the context's logs folder for each
// line, then the common line step.
#include "app/log.h"

#include "app/app_context.h"
#include "platform/files/folders.h"

void log_app(AppContext& app, const char* format, ...) {
    va_list args;
    va_start(args, format);
    // Start-up refuses a data folder where this path would not fit.
    log_append_line(app.logs_dir.empty() ? std::string() : path_join(app.logs_dir, "application.log"), format, args);
    va_end(args);
}
