// The workflow editor: a modal dialog on one Workflow record that shows the
// settings of the chosen type, checks the input with the user's messages on
// Save, and only then writes the record (under its lock, in one step).
//
// Nothing is written while the dialog is open: switching the type hides and
// shows groups of controls but keeps their values, and Cancel leaves the
// record exactly as it was. Each control is a named member of
// EditorControls, which is also how tests reach them.
#pragma once

#include <QDialog>
#include <vector>

#include "ui/presentation/editor_form.h"
#include "ui/style.h"
#include "workflow/workflow.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;

enum class EditorResult { save, cancel };

// Runs the editor modally on `workflow`, owned by `owner`.
EditorResult edit_workflow(QWidget* owner, Workflow& workflow);

struct EditorControls {
    QLineEdit* name = nullptr;
    QComboBox* type = nullptr;
    ThemedCheckBox* enabled = nullptr;
    QLabel* source_type_label = nullptr;
    QComboBox* source_type = nullptr;
    QLabel* source_label = nullptr;
    QLineEdit* source = nullptr;
    ThemedButton* source_browse = nullptr;
    QLineEdit* output = nullptr;
    QLineEdit* output_new = nullptr;  // the URL "Add" appends to the list
    ThemedButton* output_add = nullptr;
    QListWidget* output_list = nullptr;  // the outputs beyond the first, checked when enabled
    ThemedButton* output_remove = nullptr;

    QGroupBox* overlay_group = nullptr;
    ThemedCheckBox* image_enabled = nullptr;
    QLineEdit* image_path = nullptr;
    ThemedButton* image_browse = nullptr;
    QComboBox* image_x = nullptr;
    QComboBox* image_y = nullptr;
    QLineEdit* image_scale = nullptr;
    ThemedCheckBox* text_enabled = nullptr;
    QLineEdit* text = nullptr;
    QComboBox* text_bottom = nullptr;
    QLineEdit* font_size = nullptr;
    QComboBox* scroll_speed = nullptr;
    QLineEdit* text_color = nullptr;
    ThemedButton* text_color_pick = nullptr;
    QLineEdit* background_color = nullptr;
    ThemedButton* background_color_pick = nullptr;
    QComboBox* encoder = nullptr;
    QLineEdit* bitrate = nullptr;

    QGroupBox* record_group = nullptr;
    QLineEdit* recording_dir = nullptr;
    QLineEdit* poll_seconds = nullptr;
    QLineEdit* reconnects = nullptr;
    ThemedCheckBox* delete_after_push = nullptr;

    QGroupBox* direct_group = nullptr;
    ThemedCheckBox* prefer_stream_copy = nullptr;
    ThemedCheckBox* fallback_transcoding = nullptr;

    ThemedButton* save = nullptr;
    ThemedButton* cancel = nullptr;
};

class WorkflowEditor : public QDialog {
    Q_OBJECT
  public:
    WorkflowEditor(QWidget* owner, Workflow& workflow);

    [[nodiscard]] const EditorControls& controls() const { return c_; }

    // Runs every check in order; on success writes the record and accepts.
    bool save();

  private:
    void build_controls();
    void style_controls();
    void connect_controls();
    [[nodiscard]] QWidget* control(int id) const;

    void fill_from(const EditorForm& form);
    void fill_outputs(const std::vector<ExtraOutput>& outputs);
    bool add_output();
    void remove_output();
    [[nodiscard]] EditorForm read_form() const;
    void apply_type_layout(WorkflowType type);
    void place(QWidget* control, const DluRect& dlu);
    void warn_about(const EditorProblem& problem);

    void browse(QLineEdit* edit, const QString& filters);
    void pick_colour(QLineEdit* edit);

    Workflow& workflow_;
    WorkflowSettings original_;
    std::vector<ExtraOutput> outputs_;  // the list's outputs; their flags live in its check boxes
    DialogUnits units_;
    EditorControls c_;
    // Every control with its entry in the shared table, in tab order.
    std::vector<std::pair<const EditorControl*, QWidget*>> controls_;
};
