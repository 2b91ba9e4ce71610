// The workflow editor: a modal dialog on one Workflow record that shows the
// settings of the chosen type, checks the input with the user's messages on
// Save, and only then writes the record (under its lock, in one step).
//
// Nothing is written while the dialog is open: switching the type hides and
// shows groups of controls but keeps their values, and Cancel leaves the
// record exactly as it was. Controls are known by the numeric ids the
// layout tables use, which is also how tests reach them.
#pragma once

#include <QDialog>
#include <map>
#include <optional>

#include "ui/style.h"
#include "workflow/editor_rules.h"
#include "workflow/workflow.h"

class QComboBox;
class QLabel;
class QLineEdit;

enum class EditorResult { save, cancel };

// Runs the editor modally on `workflow`, owned by `owner`.
EditorResult edit_workflow(QWidget* owner, Workflow& workflow);

namespace editor_id {
constexpr int save_button = 1, cancel_button = 2;
constexpr int name = 201, type = 202, enabled = 203, source_type = 204, source = 205, output = 206;
constexpr int image_enabled = 207, image_path = 208, image_x = 209, image_y = 210, image_scale = 211;
constexpr int text_enabled = 212, text = 213, text_bottom = 215, font_size = 216;
constexpr int encoder = 217, bitrate = 218, recording_dir = 219, poll_seconds = 220, reconnects = 221;
constexpr int delete_after_push = 222, prefer_stream_copy = 223, fallback_transcoding = 224;
constexpr int overlay_group = 225, record_group = 226, direct_group = 227;
constexpr int image_browse = 310, text_color = 311, background_color = 312, scroll_speed = 313;
constexpr int text_color_pick = 318, background_color_pick = 319, source_browse = 321;
constexpr int source_type_label = 322, source_label = 323;
}  // namespace editor_id

class WorkflowEditor : public QDialog {
    Q_OBJECT
  public:
    WorkflowEditor(QWidget* owner, Workflow& workflow);

    // The control with that id; null for an unknown id.
    [[nodiscard]] QWidget* control(int id) const;
    // The client size, in pixels, of the layout for a workflow type.
    [[nodiscard]] QSize client_size_for(int type) const;
    [[nodiscard]] const DialogUnits& units() const { return units_; }

    // Runs every check in order; on success writes the record and accepts.
    bool save();

  private:
    void build_top_rows();
    void build_overlay_group();
    void build_record_group();
    void build_direct_group();
    void build_buttons();
    void connect_controls();

    QLabel* add_label(int id, const QString& text, QRect dlu);
    QLineEdit* add_edit(int id, QRect dlu, int capacity, bool digits = false);
    QComboBox* add_combo(int id, const QStringList& items, QRect dlu);
    ThemedCheckBox* add_check(int id, const QString& text, QRect dlu);
    ThemedButton* add_button(int id, const QString& text, QRect dlu, bool primary = false);
    void place(int id, int x, int y, int width, int height);
    void fit_side_buttons();

    void fill_from(const WorkflowSettings& settings);
    void apply_type_layout(int type);
    [[nodiscard]] int selected_type() const;
    [[nodiscard]] std::optional<WorkflowSettings> read_checked();
    void warn_about(const EditorProblem& problem);

    void browse_image();
    void browse_mp4();
    void pick_colour(int edit_id);

    Workflow& workflow_;
    WorkflowSettings original_;
    DialogUnits units_;
    std::map<int, QWidget*> controls_;
};
