// The application context: folders under the per-user data folder, the
// one-time copy of a legacy configuration, and the front end's notifier.
#include "app/app_context.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/folders.h"
#include "platform/text.h"
#include "workflow/workflow.h"

namespace {

std::string fit_path(const std::string& path) { return utf16_fit(path, PATH_CAPACITY); }

// Copies `from` to `to` unless `to` exists; the copy keeps the owner-only
// mode a configuration file deserves.
void copy_if_absent(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return;
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out >= 0) {
        char buffer[65536];
        ssize_t got;
        bool ok = true;
        while (ok && (got = read(in, buffer, sizeof buffer)) > 0) {
            ok = write(out, buffer, static_cast<size_t>(got)) == got;
        }
        close(out);
        if (!ok) unlink(to.c_str());
    }
    close(in);
}

}  // namespace

void app_context_init(AppContext& app, const std::string& data_dir_override) {
    app.workflows.clear();
    app.next_id = 1;
    app.ytdlp_ok = 0;
    app.program_dir = path_parent(executable_path());

    std::string base = user_data_base();
    if (base.empty()) base = temp_folder();
    app.data_dir = fit_path(data_dir_override.empty() ? base + "/Veltrona" : data_dir_override);
    app.config_path = fit_path(app.data_dir + "/config.tsv");
    app.logs_dir = fit_path(app.data_dir + "/logs");
    app.recordings_dir = fit_path(app.data_dir + "/recordings");

    (void)ensure_directory(app.data_dir);
    (void)ensure_directory(app.logs_dir);
    (void)ensure_directory(app.recordings_dir);

    std::string legacy_config = fit_path(fit_path(base + "/Morvantix/Castwright") + "/config.tsv");
    if (!path_exists(app.config_path) && path_exists(legacy_config)) copy_if_absent(legacy_config, app.config_path);
}

void app_set_notifier(AppContext& app, WorkflowNotifier notifier, void* context) {
    std::lock_guard guard(app.notifier_lock);
    app.notifier = notifier;
    app.notifier_context = context;
}

void app_notify(AppContext& app, uint32_t workflow_id) {
    std::lock_guard guard(app.notifier_lock);
    if (app.notifier) app.notifier(app.notifier_context, workflow_id);
}

Workflow* app_find_workflow(AppContext& app, uint32_t id) {
    for (const WorkflowPtr& workflow : app.workflows) {
        if (workflow->id == id) return workflow.get();
    }
    return nullptr;
}
