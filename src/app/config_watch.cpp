// The file is only stat'ed once a second; it is read only when its inode,
// size or modification time moved (the program saves by renaming a new
// file over it, so a save always shows).
#include "app/config_watch.h"

#include <tuple>

#include "app/app_context.h"
#include "platform/time/clock.h"
#include "workflow/config.h"

namespace {

// The fields the overlay pipeline reads, as one comparable tuple.
auto overlay_fields(WorkflowSettings& s) {
    return std::tie(s.image_enabled, s.image_path, s.image_x_pct, s.image_y_pct, s.image_scale_pct, s.text_enabled,
                    s.text, s.text_bottom_pct, s.font_size, s.scroll_speed, s.text_color, s.background_color, s.bitrate,
                    s.encoder);
}

}  // namespace

void config_watch_start(ConfigWatch& watch, const std::string& path) {
    watch.path = path;
    watch.stamp = FileStamp{};  // unknown, so the first poll reads what is there
    watch.next_check_ms = tick_ms() + CONFIG_WATCH_INTERVAL_MS;
}

bool workflow_apply_overlay(Workflow& workflow, const WorkflowSettings& saved) {
    WorkflowSettings copy = saved;
    {
        std::lock_guard guard(workflow.lock);
        if (overlay_fields(workflow.settings) == overlay_fields(copy)) return false;
        overlay_fields(workflow.settings) = overlay_fields(copy);
    }
    workflow.revision.fetch_add(1);
    return true;
}

bool config_watch_changed(ConfigWatch& watch) {
    uint64_t now = tick_ms();
    if (now < watch.next_check_ms) return false;
    watch.next_check_ms = now + CONFIG_WATCH_INTERVAL_MS;
    FileStamp stamp = file_stamp(watch.path);
    if (stamp == watch.stamp) return false;
    watch.stamp = stamp;
    return true;
}

ConfigWatchNews config_watch_poll(ConfigWatch& watch, const std::vector<Workflow*>& workflows) {
    ConfigWatchNews news;
    if (!config_watch_changed(watch)) return news;
    AppContext saved;
    saved.config_path = watch.path;
    if (config_load(saved) != ConfigLoad::loaded) {
        news.unreadable = true;
        return news;
    }
    for (Workflow* workflow : workflows) {
        Workflow* found = app_find_workflow(saved, workflow->id);
        if (found && workflow_apply_overlay(*workflow, workflow_settings_copy(*found))) {
            news.updated.push_back(workflow->id);
        }
    }
    return news;
}
