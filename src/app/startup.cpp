// Start-up, in order: context and folders, launcher entries (desktop program
// only), configuration. A malformed configuration is moved aside (replacing
// an older one of that name) so the next save starts a fresh file, and the
// workflows read before the fault stay in the list.
#include "app/startup.h"

#include "app/log.h"
#include "app/shortcuts.h"
#include "platform/files/files.h"
#include "workflow/config.h"

StartupProblem app_startup(AppContext& app, const StartupOptions& options) {
    std::string problem = app_context_init(app, options.data_dir);
    if (!problem.empty()) return {problem, true};
    if (options.repair_shortcuts && !ensure_user_shortcuts()) {
        log_app(app, "Could not create or repair current-user shortcuts");
    }
    switch (config_load(app, &problem)) {
        case ConfigLoad::unreadable:
            return {problem, false};
        case ConfigLoad::malformed:
            if (file_move_replacing(app.config_path, app.config_path + ".malformed")) {
                log_app(app, "Malformed configuration moved aside");
            }
            break;
        case ConfigLoad::loaded:
            break;
    }
    return {};
}
