// What the main window shows and decides, whatever draws it: the list's
// columns and cell texts, the details text, the texts of its boxes, which
// workflows block a delete or a close, and the saving of each command.
//
// Every add, edit and delete is saved as one change applied by id to
// config.tsv as it is at that moment (config_update), so what another
// program (veltrona-cli) saved meanwhile stays; the window reloads the list
// when the file changed, except while a dialog may hold one of the records.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "app/app_context.h"
#include "app/config_watch.h"

namespace main_text {
constexpr const char* title = "Veltrona";
constexpr const char* no_selection = "Select a workflow to see details.";
constexpr const char* stop_before_delete = "Stop the workflow before deleting it.";
constexpr const char* confirm_delete = "Delete the selected workflow?";
constexpr const char* confirm_close = "Active workflows will be stopped. Exit?";
constexpr const char* cannot_start_title = "Cannot start";
constexpr const char* edited_but_deleted = "Another program deleted this workflow; the changes were not saved.";
constexpr const char* player_missing = "VLC is not installed in its standard location.";
constexpr const char* player_failed = "VLC could not open the selected output URL.";
}  // namespace main_text

// Pixel geometry of the main window's client area.
namespace main_geometry {
constexpr int width = 900, height = 680, min_width = 760, min_height = 620;
constexpr int margin = 12, list_y = 88, list_height = 252, row_height = 44;
constexpr int details_y = 412, details_bottom_gap = 424, buttons_y = 352;
constexpr int title_x = 12, title_y = 16, title_width = 180, title_height = 30;
constexpr int logo_width = 220, logo_height = 50, logo_y = 15, logo_right_gap = 232;
constexpr int refresh_ms = 1000;
}  // namespace main_geometry

struct ListColumn {
    const char* title;
    int width;
};
[[nodiscard]] std::span<const ListColumn> list_columns();

enum class MainCommand { add, edit, remove, start, stop, restart };
struct MainButton {
    MainCommand command;
    int id;  // the control id
    const char* text;
    int x;
    int width;
    bool primary;
};
[[nodiscard]] std::span<const MainButton> main_buttons();

// What the logo's tooltip tells, the window having no menu for an about
// box: "Veltrona VERSION", then the licence line.
[[nodiscard]] std::string about_text();

// "HH:MM:SS" of a run that began at `start_tick` (0 = never), hours not
// wrapped at 24.
[[nodiscard]] std::string format_runtime(uint64_t start_tick, uint64_t now_tick);
// One cell of the list (columns in list_columns order).
[[nodiscard]] std::string list_cell_text(const Workflow& workflow, size_t column, uint64_t now_tick);
// The details box text for one workflow, lines split by '\n', URLs masked;
// while a run has several outputs, a line for each one it reports, with the
// time it has been in its state at `now_tick`.
[[nodiscard]] std::string workflow_details_text(Workflow& workflow, uint64_t now_tick);
// True for the states in which a workflow counts as not active.
[[nodiscard]] bool workflow_is_idle(uint32_t state);

// A workflow that runs here or in a veltrona-cli run cannot be deleted.
[[nodiscard]] bool delete_refused(AppContext& app, Workflow& workflow);
// How often closing asks: once per active workflow, in list order.
[[nodiscard]] size_t close_questions(const AppContext& app);

// The saves of the commands. On failure `error` says why (empty when the
// change itself declined, e.g. a full list), and neither the file nor the
// table changed.
// Adds a workflow with `settings`; its id (the file's next one), or 0.
[[nodiscard]] uint32_t view_add_workflow(AppContext& app, const WorkflowSettings& settings, std::string* error);
enum class EditSaved { saved, deleted_elsewhere, failed };
// Saves the edited record (its revision raised first, for a running overlay).
[[nodiscard]] EditSaved view_save_edit(AppContext& app, Workflow& workflow, std::string* error);
[[nodiscard]] bool view_delete_workflow(AppContext& app, uint32_t id, std::string* error);
// Takes in what another program saved when config.tsv changed; call only
// while no dialog holds a record.
void view_reload_if_changed(AppContext& app, ConfigWatch& watch);
// The row of a workflow id; -1 when it is not in the list.
[[nodiscard]] int view_row_of(const AppContext& app, uint32_t id);

// The URL to hand the player: only an ingest URL (config.tsv may have been
// edited by hand); empty when it is not one, with the warning in `refusal`.
[[nodiscard]] std::string player_url(const Workflow& workflow, std::string* refusal);
