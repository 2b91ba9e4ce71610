// The application context: folders under the per-user data folder and the
// one-time copy of a legacy configuration.
#include "app/app_context.h"

#include <algorithm>
#include <iterator>

#include "platform/files/files.h"
#include "platform/files/folders.h"
#include "platform/text/text.h"
#include "workflow/workflow.h"

namespace {

// The longest names the program gives files in the data folder.
constexpr const char* LONGEST_NAMES[] = {"config.tsv.malformed", "config.tsv.lock", "logs/application.log",
                                         "logs/workflow-4294967295.log"};

bool data_paths_fit(const AppContext& app) {
    if (!path_fits(app.config_path + std::string(TEMP_NAME_SUFFIX)) || !path_fits(app.recordings_dir)) return false;
    return std::all_of(std::begin(LONGEST_NAMES), std::end(LONGEST_NAMES),
                       [&](const char* name) { return path_fits(path_join(app.data_dir, name)); });
}

// Copies `from` to `to` unless `to` exists; the copy keeps the owner-only
// mode a configuration file deserves.
void copy_if_absent(const std::string& from, const std::string& to) {
    std::string content;
    if (path_exists(to) || file_read_all(from, &content) != FileRead::ok) return;
    (void)file_create_private(to, content);
}

std::string refuse(AppContext& app, std::string problem) {
    app.config_path.clear(), app.logs_dir.clear(), app.recordings_dir.clear();
    return problem;
}

}  // namespace

std::string app_context_init(AppContext& app, const std::string& data_dir_override) {
    app.workflows.clear();
    app.next_id = 1;
    app.ytdlp_ok = 0;
    app.program_dir = path_parent(executable_path());

    std::string base = user_data_base();
    if (base.empty()) base = temp_folder();
    app.data_dir = data_dir_override.empty() ? path_join(base, "Veltrona") : data_dir_override;
    app.config_path = path_join(app.data_dir, "config.tsv");
    app.logs_dir = path_join(app.data_dir, "logs");
    app.recordings_dir = path_join(app.data_dir, "recordings");
    if (!data_paths_fit(app)) {
        return refuse(app, "The data folder path is too long for the files kept in it: " + app.data_dir);
    }
    if (!ensure_directory(app.data_dir)) return refuse(app, "The data folder " + app.data_dir + " cannot be created.");
    // A folder that was already there may be someone else's, made to catch our files.
    if (!folder_is_private(app.data_dir)) {
        return refuse(app, "The data folder " + app.data_dir + " is not private to you.");
    }
    (void)ensure_directory(app.logs_dir);
    (void)ensure_directory(app.recordings_dir);

    std::string legacy_config = path_join(path_join(path_join(base, "Morvantix"), "Castwright"), "config.tsv");
    if (path_fits(legacy_config) && !path_exists(app.config_path) && path_exists(legacy_config))
        copy_if_absent(legacy_config, app.config_path);
    return {};
}

Workflow* app_find_workflow(WorkflowList& list, uint32_t id) {
    for (const WorkflowPtr& workflow : list.workflows) {
        if (workflow->id == id) return workflow.get();
    }
    return nullptr;
}
