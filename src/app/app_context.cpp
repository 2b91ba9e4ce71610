// The application context: folders under the per-user data folder and the
// one-time copy of a legacy configuration.
#include "app/app_context.h"

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "workflow/workflow.h"

namespace {

std::string fit_path(const std::string& path) {
    return utf16_fit(path, PATH_CAPACITY);
}

// Copies `from` to `to` unless `to` exists; the copy keeps the owner-only
// mode a configuration file deserves.
void copy_if_absent(const std::string& from, const std::string& to) {
    std::string content;
    if (path_exists(to) || !file_read_all(from, &content)) return;
    (void)file_create_private(to, content);
}

}  // namespace

void app_context_init(AppContext& app, const std::string& data_dir_override) {
    app.workflows.clear();
    app.next_id = 1;
    app.ytdlp_ok = 0;
    app.program_dir = path_parent(executable_path());

    std::string base = user_data_base();
    if (base.empty()) base = temp_folder();
    app.data_dir = fit_path(data_dir_override.empty() ? path_join(base, "Veltrona") : data_dir_override);
    app.config_path = fit_path(path_join(app.data_dir, "config.tsv"));
    app.logs_dir = fit_path(path_join(app.data_dir, "logs"));
    app.recordings_dir = fit_path(path_join(app.data_dir, "recordings"));

    (void)ensure_directory(app.data_dir);
    (void)ensure_directory(app.logs_dir);
    (void)ensure_directory(app.recordings_dir);

    std::string legacy_folder = fit_path(path_join(path_join(base, "Morvantix"), "Castwright"));
    std::string legacy_config = fit_path(path_join(legacy_folder, "config.tsv"));
    if (!path_exists(app.config_path) && path_exists(legacy_config)) copy_if_absent(legacy_config, app.config_path);
}

Workflow* app_find_workflow(AppContext& app, uint32_t id) {
    for (const WorkflowPtr& workflow : app.workflows) {
        if (workflow->id == id) return workflow.get();
    }
    return nullptr;
}
