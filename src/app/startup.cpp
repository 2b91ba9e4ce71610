// Start-up, in order: context and folders, launcher entries (desktop program
// only), configuration. A malformed configuration is moved aside (replacing
// an older one of that name) so the next save starts a fresh file, and the
// workflows read before the fault stay in the list.
#include "app/startup.h"

#include <cstdio>

#include "app/log.h"
#include "app/shortcuts.h"
#include "platform/files.h"
#include "platform/text.h"
#include "workflow/config.h"

void app_startup(AppContext& app, const StartupOptions& options) {
    app_context_init(app, options.data_dir);
    if (options.repair_shortcuts && !ensure_user_shortcuts()) {
        log_app(app, "Could not create or repair current-user shortcuts");
    }
    if (!config_load(app)) {
        std::string aside = utf16_fit(app.config_path + ".malformed", PATH_CAPACITY);
        if (file_move_replacing(app.config_path, aside)) {
            log_app(app, "Malformed configuration moved aside");
        }
    }
}
