// application.log: the path formed from the context's logs folder for each
// line, then the common line step.
#include "app/log.h"

#include "app/app_context.h"
#include "platform/folders.h"
#include "platform/text.h"

void log_app(AppContext& app, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log_append_line(utf16_fit(path_join(app.logs_dir, "application.log"), PATH_CAPACITY), format, args);
    va_end(args);
}
