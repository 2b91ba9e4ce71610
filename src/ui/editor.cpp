// The editor's Qt wiring: the shared control table turned into widgets
// (dialog units converted with the dialog font's metrics, as a resource
// dialog would be), the type layout applied to them, and the form read from
// and written to them. The checks and the form are the presentation layer's.
#include "ui/editor.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpressionValidator>

#include "ui/dialogs.h"

namespace {

namespace id = editor_id;

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

std::string utf8(const QLineEdit* edit) {
    return edit->text().toStdString();
}

QRect dlu_rect(const DialogUnits& units, const DluRect& dlu) {
    return dialog_rect(units, dlu.x, dlu.y, dlu.width, dlu.height);
}

QWidget* make_control(QWidget* parent, const EditorControl& field) {
    const QString text = QString::fromUtf8(field.text);
    switch (field.kind) {
        case ControlKind::label: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            return label;
        }
        case ControlKind::edit:
        case ControlKind::digits: {
            auto* edit = new QLineEdit(parent);
            edit->setMaxLength(static_cast<int>(editor_capacity(field.id)) - 1);
            if (field.kind == ControlKind::digits) {
                static const QRegularExpression only_digits(QStringLiteral("[0-9]*"));
                edit->setValidator(new QRegularExpressionValidator(only_digits, edit));
            }
            return edit;
        }
        case ControlKind::combo: {
            auto* combo = new QComboBox(parent);
            for (const std::string& item : editor_items(field.id)) combo->addItem(qtext(item));
            combo->setMaxVisibleItems(12);
            return combo;
        }
        case ControlKind::check:
            return new ThemedCheckBox(text, parent);
        case ControlKind::button: {
            auto* button = new ThemedButton(text, parent, field.id == id::save);
            button->setAutoDefault(false);
            return button;
        }
        case ControlKind::group:
            return new QGroupBox(text, parent);
        case ControlKind::list:
            return new QListWidget(parent);
    }
    return nullptr;
}

}  // namespace

WorkflowEditor::WorkflowEditor(QWidget* owner, Workflow& workflow)
    : QDialog(owner), workflow_(workflow), original_(workflow_settings_copy(workflow)) {
    setWindowTitle(QString::fromUtf8(EDITOR_TITLE));
    setModal(true);
    setFont(dialog_font());
    units_ = dialog_units(font());
    apply_window_colours(this, UiColour::dialog_background);
    build_controls();
    style_controls();
    fill_from(editor_form_from(original_));
    connect_controls();
    apply_type_layout(editor_type_at(c_.type->currentIndex()));
}

// ---- building ----

void WorkflowEditor::build_controls() {
    for (const EditorControl& field : editor_controls()) {
        QWidget* widget = make_control(this, field);
        widget->setGeometry(dlu_rect(units_, field.place));
        if (field.kind == ControlKind::edit || field.kind == ControlKind::digits || field.kind == ControlKind::combo ||
            field.kind == ControlKind::list)
            flatten_control(widget);
        controls_.emplace_back(&field, widget);
    }
    auto edit = [this](int control) { return static_cast<QLineEdit*>(this->control(control)); };
    auto combo = [this](int control) { return static_cast<QComboBox*>(this->control(control)); };
    auto check = [this](int control) { return static_cast<ThemedCheckBox*>(this->control(control)); };
    auto button = [this](int control) { return static_cast<ThemedButton*>(this->control(control)); };
    auto group = [this](int control) { return static_cast<QGroupBox*>(this->control(control)); };
    c_ = EditorControls{
        edit(id::name),
        combo(id::type),
        check(id::enabled),
        static_cast<QLabel*>(control(id::source_type_label)),
        combo(id::source_type),
        static_cast<QLabel*>(control(id::source_label)),
        edit(id::source),
        button(id::source_browse),
        edit(id::output),
        edit(id::output_new),
        button(id::output_add),
        static_cast<QListWidget*>(control(id::output_list)),
        button(id::output_remove),
        group(id::overlay_group),
        check(id::image_enabled),
        edit(id::image_path),
        button(id::image_browse),
        combo(id::image_x),
        combo(id::image_y),
        edit(id::image_scale),
        check(id::text_enabled),
        edit(id::text),
        combo(id::text_bottom),
        edit(id::font_size),
        combo(id::scroll_speed),
        edit(id::text_color),
        button(id::text_color_pick),
        edit(id::background_color),
        button(id::background_color_pick),
        combo(id::encoder),
        edit(id::bitrate),
        group(id::record_group),
        edit(id::recording_dir),
        edit(id::poll_seconds),
        edit(id::reconnects),
        check(id::delete_after_push),
        group(id::direct_group),
        check(id::prefer_stream_copy),
        check(id::fallback_transcoding),
        button(id::save),
        button(id::cancel),
    };
}

QWidget* WorkflowEditor::control(int control_id) const {
    for (const auto& [field, widget] : controls_) {
        if (field->id == control_id) return widget;
    }
    return nullptr;
}

void WorkflowEditor::style_controls() {
    c_.save->setDefault(true);
    c_.output->setToolTip(QStringLiteral("rtmp://host/application/stream-key or rtmps://..."));
    c_.output_new->setToolTip(QStringLiteral("Another output; only the checked ones are published to"));
    c_.text_color->setToolTip(QStringLiteral("#RRGGBB"));
    c_.background_color->setToolTip(QStringLiteral("#RRGGBB"));
    c_.bitrate->setToolTip(QStringLiteral("Bits per second, with an optional k or M suffix, e.g. 6000k"));
    c_.poll_seconds->setToolTip(QStringLiteral("Seconds between checks while waiting for the live; below 5 means 15"));
    // The small buttons beside an edit take the edit's flattened height.
    for (QWidget* button : {c_.source_browse, c_.image_browse, c_.text_color_pick, c_.background_color_pick,
                            c_.output_add, c_.output_remove})
        fit_to_text_line(button);
    QString group_style = QStringLiteral(
                              "QGroupBox { border: 1px solid %1; margin-top: 0.6em; color: %2; }"
                              "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 4px; }")
                              .arg(ui_colour_css(UiColour::outline), ui_colour_css(UiColour::text));
    for (QGroupBox* group : {c_.overlay_group, c_.record_group, c_.direct_group}) group->setStyleSheet(group_style);
}

void WorkflowEditor::connect_controls() {
    connect(c_.save, &QPushButton::clicked, this, [this] { save(); });
    connect(c_.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(c_.image_browse, &QPushButton::clicked, this, [this] {
        browse(c_.image_path,
               QStringLiteral("Image files (*.png *.jpg *.jpeg *.bmp *.PNG *.JPG *.JPEG *.BMP);;All files (*)"));
    });
    connect(c_.source_browse, &QPushButton::clicked, this,
            [this] { browse(c_.source, QStringLiteral("MP4 video files (*.mp4 *.MP4);;All files (*)")); });
    connect(c_.output_add, &QPushButton::clicked, this, [this] { add_output(); });
    connect(c_.output_remove, &QPushButton::clicked, this, [this] { remove_output(); });
    connect(c_.text_color_pick, &QPushButton::clicked, this, [this] { pick_colour(c_.text_color); });
    connect(c_.background_color_pick, &QPushButton::clicked, this, [this] { pick_colour(c_.background_color); });
    connect(c_.type, &QComboBox::currentIndexChanged, this,
            [this](int index) { apply_type_layout(editor_type_at(index)); });
}

// ---- filling and layout ----

void WorkflowEditor::fill_from(const EditorForm& form) {
    c_.type->setCurrentIndex(form.type), c_.source_type->setCurrentIndex(form.source_type);
    c_.enabled->setChecked(form.enabled);
    c_.name->setText(qtext(form.name)), c_.source->setText(qtext(form.source)), c_.output->setText(qtext(form.output));
    c_.image_enabled->setChecked(form.image_enabled), c_.image_path->setText(qtext(form.image_path));
    c_.image_x->setCurrentIndex(form.image_x), c_.image_y->setCurrentIndex(form.image_y);
    c_.image_scale->setText(qtext(form.image_scale));
    c_.text_enabled->setChecked(form.text_enabled), c_.text->setText(qtext(form.text));
    c_.text_bottom->setCurrentIndex(form.text_bottom), c_.font_size->setText(qtext(form.font_size));
    c_.text_color->setText(qtext(form.text_color)), c_.background_color->setText(qtext(form.background_color));
    c_.scroll_speed->setCurrentIndex(form.scroll_speed), c_.encoder->setCurrentIndex(form.encoder);
    c_.bitrate->setText(qtext(form.bitrate)), c_.recording_dir->setText(qtext(form.recording_dir));
    c_.poll_seconds->setText(qtext(form.poll_seconds)), c_.reconnects->setText(qtext(form.reconnects));
    c_.delete_after_push->setChecked(form.delete_after_push);
    c_.prefer_stream_copy->setChecked(form.prefer_stream_copy);
    c_.fallback_transcoding->setChecked(form.fallback_transcoding);
    fill_outputs(form.outputs);
    for (QLineEdit* edit : {c_.name, c_.source, c_.output, c_.image_path, c_.text, c_.text_color, c_.background_color,
                            c_.bitrate, c_.recording_dir})
        edit->setCursorPosition(0);
}

EditorForm WorkflowEditor::read_form() const {
    EditorForm form;
    form.type = c_.type->currentIndex(), form.source_type = c_.source_type->currentIndex();
    form.enabled = c_.enabled->isChecked();
    form.name = utf8(c_.name), form.source = utf8(c_.source), form.output = utf8(c_.output);
    form.image_enabled = c_.image_enabled->isChecked(), form.image_path = utf8(c_.image_path);
    form.image_x = c_.image_x->currentIndex(), form.image_y = c_.image_y->currentIndex();
    form.image_scale = utf8(c_.image_scale);
    form.text_enabled = c_.text_enabled->isChecked(), form.text = utf8(c_.text);
    form.text_bottom = c_.text_bottom->currentIndex(), form.font_size = utf8(c_.font_size);
    form.text_color = utf8(c_.text_color), form.background_color = utf8(c_.background_color);
    form.scroll_speed = c_.scroll_speed->currentIndex(), form.encoder = c_.encoder->currentIndex();
    form.bitrate = utf8(c_.bitrate), form.recording_dir = utf8(c_.recording_dir);
    form.poll_seconds = utf8(c_.poll_seconds), form.reconnects = utf8(c_.reconnects);
    form.delete_after_push = c_.delete_after_push->isChecked();
    form.prefer_stream_copy = c_.prefer_stream_copy->isChecked();
    form.fallback_transcoding = c_.fallback_transcoding->isChecked();
    form.outputs = outputs_;
    for (int row = 0; row < c_.output_list->count() && row < static_cast<int>(outputs_.size()); ++row)
        form.outputs[static_cast<size_t>(row)].enabled = c_.output_list->item(row)->checkState() == Qt::Checked;
    return form;
}

void WorkflowEditor::fill_outputs(const std::vector<ExtraOutput>& outputs) {
    outputs_ = outputs;
    c_.output_list->clear();
    for (const OutputRow& row : editor_output_rows(outputs)) {
        auto* item = new QListWidgetItem(qtext(row.shown), c_.output_list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(row.enabled ? Qt::Checked : Qt::Unchecked);
    }
}

bool WorkflowEditor::add_output() {
    EditorForm form = read_form();
    if (const std::optional<EditorProblem> problem = editor_add_output(form, utf8(c_.output_new))) {
        show_message(this, MessageIcon::warning, qtext(problem->title), qtext(problem->message));
        c_.output_new->setFocus(Qt::OtherFocusReason);
        c_.output_new->selectAll();
        return false;
    }
    fill_outputs(form.outputs);
    c_.output_new->clear();
    return true;
}

void WorkflowEditor::remove_output() {
    const int row = c_.output_list->currentRow();
    if (row < 0) return;
    EditorForm form = read_form();
    editor_remove_output(form, static_cast<size_t>(row));
    fill_outputs(form.outputs);
    c_.output_list->setCurrentRow(std::min(row, c_.output_list->count() - 1));
}

void WorkflowEditor::place(QWidget* widget, const DluRect& dlu) {
    widget->setGeometry(dlu_rect(units_, dlu));
    fit_control_height(widget);
}

void WorkflowEditor::apply_type_layout(WorkflowType type) {
    const EditorLayout layout = editor_layout(type);
    for (const auto& [field, widget] : controls_) widget->setVisible(editor_shows(layout, *field));
    c_.source_label->setText(QString::fromUtf8(layout.source_label));
    c_.source->setToolTip(layout.mp4 ? QString() : QStringLiteral("A YouTube page, or an HTTP(S) HLS playlist URL"));
    for (const auto& [field, widget] : controls_) {
        if (field->id == id::source || field->group == EditorGroup::buttons)
            place(widget, editor_place(*field, layout));
    }
    setFixedSize(dialog_size(units_, EDITOR_WIDTH_DLU, layout.client_height));
    setProperty(CENTERED_PROPERTY, QVariant());
    centre_window(this);
    update();
}

// ---- saving ----

void WorkflowEditor::warn_about(const EditorProblem& problem) {
    QWidget* focus = control(editor_focus_id(problem.field));
    show_message(this, MessageIcon::warning, qtext(problem.title), qtext(problem.message));
    focus->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(focus)) edit->selectAll();
}

bool WorkflowEditor::save() {
    // A URL typed but not yet added is meant as an output too.
    if (!c_.output_new->text().isEmpty() && !add_output()) return false;
    std::variant<WorkflowSettings, EditorProblem> read = editor_form_read(read_form(), original_);
    if (const EditorProblem* problem = std::get_if<EditorProblem>(&read)) {
        warn_about(*problem);
        return false;
    }
    workflow_settings_replace(workflow_, std::get<WorkflowSettings>(read));
    accept();
    return true;
}

// ---- choosers ----

void WorkflowEditor::browse(QLineEdit* edit, const QString& filters) {
    const QString chosen = ui_hooks().open_file(this, edit->text(), filters);
    if (editor_path_fits(chosen.toStdString())) edit->setText(chosen);
}

void WorkflowEditor::pick_colour(QLineEdit* edit) {
    const uint32_t start = editor_picker_start(utf8(edit));
    const QColor initial(start & 0xFF, (start >> 8) & 0xFF, (start >> 16) & 0xFF);
    const std::optional<QColor> chosen = ui_hooks().pick_colour(this, initial);
    if (!chosen) return;
    const uint32_t stored = static_cast<uint32_t>(chosen->red()) | static_cast<uint32_t>(chosen->green()) << 8 |
                            static_cast<uint32_t>(chosen->blue()) << 16;
    edit->setText(qtext(editor_format_color(stored)));
    edit->selectAll();
    edit->setFocus(Qt::OtherFocusReason);
}

EditorResult edit_workflow(QWidget* owner, Workflow& workflow) {
    WorkflowEditor editor(owner, workflow);
    return editor.exec() == QDialog::Accepted ? EditorResult::save : EditorResult::cancel;
}
