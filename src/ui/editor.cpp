// Layout of the editor in dialog units (converted with the dialog font's
// metrics, as a resource dialog would be), the per-type visibility rules,
// and the Save checks. The checks shared with the headless front end come
// from editor_rules.h; the colour and number reading here follows the same
// helpers so both front ends accept the same text.
#include "ui/editor.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <climits>

#include "platform/text/text.h"
#include "ui/dialogs.h"
#include "workflow/check_messages.h"
#include "workflow/editor_rules.h"

namespace {

constexpr int DIALOG_WIDTH_DLU = 500;
constexpr int LABEL_X = 12, LABEL_WIDTH = 88, FIELD_X = 104;
constexpr int SOURCE_Y = 99, SOURCE_HEIGHT = 22, SOURCE_WIDTH_URL = 384, SOURCE_WIDTH_MP4 = 330;
constexpr int BUTTON_WIDTH = 66, BUTTON_HEIGHT = 24, SAVE_X = 348, CANCEL_X = 422;
constexpr int COLOUR_TEXT_CAPACITY = 32, NUMBER_CAPACITY = 32;
constexpr int TYPE_COUNT = 4;  // the type list offers types 1 to 4 in order

// Client height and button row of each type's layout, in dialog units.
struct TypeLayout {
    int client_height;
    int buttons_y;
};
constexpr TypeLayout OVERLAY_LAYOUT{406, 376};
constexpr TypeLayout RECORD_LAYOUT{286, 256};
constexpr TypeLayout DIRECT_LAYOUT{243, 213};

constexpr const char* ENCODER_NAMES[] = {"Auto", "Hardware H.264", "Software H.264"};
constexpr int SCROLL_STEPS = 20;  // 10, 20, ... 200

const TypeLayout& layout_for(WorkflowType type) {
    if (type == WorkflowType::record_then_push) return RECORD_LAYOUT;
    if (type == WorkflowType::direct_restream) return DIRECT_LAYOUT;
    return OVERLAY_LAYOUT;
}

QStringList number_items(int first, int count, int step) {
    QStringList items;
    for (int i = 0; i < count; ++i) items << QString::number(first + i * step);
    return items;
}

QStringList texts(std::initializer_list<const char*> names) {
    QStringList items;
    for (const char* name : names) items << QString::fromUtf8(name);
    return items;
}

int clamp_percent(int32_t value) {
    return value < 0 ? 0 : (value > 99 ? 99 : value);
}

// The scroll list offers 10..200 in steps of 10; a stored value below 10
// opens as 50, and one past the list opens as its last entry rather than as
// no selection (which would save a speed of 0).
int scroll_index(int32_t speed) {
    const int index = (speed >= 10 ? speed : 50) / 10 - 1;
    return index >= SCROLL_STEPS ? SCROLL_STEPS - 1 : index;
}

// The leading decimal number of a text, as the C library reads it; 0 when
// there is none, clamped to the 32-bit range.
int32_t read_decimal(const QString& text) {
    const QString cut = text.left(NUMBER_CAPACITY - 1).trimmed();
    int position = 0;
    bool negative = false;
    if (position < cut.size() && (cut[position] == u'-' || cut[position] == u'+')) {
        negative = cut[position] == u'-';
        ++position;
    }
    long long value = 0;
    for (; position < cut.size() && cut[position] >= u'0' && cut[position] <= u'9'; ++position) {
        value = value * 10 + (cut[position].unicode() - u'0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int32_t>(value);
}

std::string utf8(const QString& text, size_t capacity) {
    return utf16_fit(text.toStdString(), capacity);
}

}  // namespace

WorkflowEditor::WorkflowEditor(QWidget* owner, Workflow& workflow)
    : QDialog(owner), workflow_(workflow), original_(workflow_settings_copy(workflow)) {
    setWindowTitle(QStringLiteral("Workflow Configuration"));
    setModal(true);
    setFont(dialog_font());
    units_ = dialog_units(font());
    apply_window_colours(this, UiColour::dialog_background);
    build_top_rows();
    build_overlay_group();
    build_record_group();
    build_direct_group();
    build_buttons();
    fill_from(original_);
    connect_controls();
    apply_type_layout(selected_type());
}

// ---- building ----

template <typename Control>
Control* WorkflowEditor::grouped(Control* control) {
    if (building_) building_->push_back(control);
    return control;
}

QGroupBox* WorkflowEditor::add_group(const QString& title, QRect dlu, std::vector<QWidget*>* members) {
    building_ = members;
    auto* group = new QGroupBox(title, this);
    group->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    return grouped(group);
}

QLabel* WorkflowEditor::add_label(const QString& text, QRect dlu) {
    auto* label = new QLabel(text, this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    return grouped(label);
}

QLineEdit* WorkflowEditor::add_edit(QRect dlu, int capacity, bool digits) {
    auto* edit = new QLineEdit(this);
    edit->setMaxLength(capacity - 1);
    if (digits) {
        static const QRegularExpression only_digits(QStringLiteral("[0-9]*"));
        edit->setValidator(new QRegularExpressionValidator(only_digits, edit));
    }
    edit->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    flatten_control(edit);
    return grouped(edit);
}

QComboBox* WorkflowEditor::add_combo(const QStringList& items, QRect dlu) {
    auto* combo = new QComboBox(this);
    combo->addItems(items);
    combo->setMaxVisibleItems(12);
    combo->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    flatten_control(combo);
    return grouped(combo);
}

ThemedCheckBox* WorkflowEditor::add_check(const QString& text, QRect dlu) {
    auto* check = new ThemedCheckBox(text, this);
    check->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    return grouped(check);
}

ThemedButton* WorkflowEditor::add_button(const QString& text, QRect dlu, bool primary) {
    auto* button = new ThemedButton(text, this, primary);
    button->setAutoDefault(false);
    button->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    return grouped(button);
}

void WorkflowEditor::place(QWidget* control, QRect dlu) {
    control->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    fit_control_height(control);
}

void WorkflowEditor::build_top_rows() {
    add_label(QStringLiteral("Name"), {LABEL_X, 19, LABEL_WIDTH, 12});
    c_.name = add_edit({FIELD_X, 15, 384, 22}, NAME_CAPACITY);
    add_label(QStringLiteral("Workflow type"), {LABEL_X, 47, LABEL_WIDTH, 12});
    QStringList type_names;
    for (int type = 1; type <= TYPE_COUNT; ++type)
        type_names << QString::fromUtf8(workflow_type_editor_name(static_cast<WorkflowType>(type)));
    c_.type = add_combo(type_names, {FIELD_X, 43, 170, 22});
    c_.enabled = add_check(QStringLiteral("Enabled"), {290, 43, 100, 22});
    c_.source_type_label = add_label(QStringLiteral("Source type"), {LABEL_X, 75, LABEL_WIDTH, 12});
    c_.source_type = add_combo(texts({"YouTube URL", "Direct URL"}), {FIELD_X, 71, 170, 22});
    c_.source_label = add_label(QStringLiteral("Source URL"), {LABEL_X, 103, LABEL_WIDTH, 12});
    c_.source = add_edit({FIELD_X, SOURCE_Y, SOURCE_WIDTH_URL, SOURCE_HEIGHT}, URL_CAPACITY);
    c_.source_browse = add_button(QStringLiteral("Browse..."), {440, 99, 48, 22});
    add_label(QStringLiteral("Output RTMP(S)"), {LABEL_X, 131, LABEL_WIDTH, 12});
    c_.output = add_edit({FIELD_X, 127, 384, 22}, URL_CAPACITY);
    c_.output->setToolTip(QStringLiteral("rtmp://host/application/stream-key or rtmps://..."));
}

void WorkflowEditor::build_overlay_group() {
    c_.overlay_group = add_group(QStringLiteral("Overlay workflow"), {12, 160, 476, 192}, &overlay_members_);
    c_.image_enabled = add_check(QStringLiteral("Image overlay"), {22, 176, 84, 22});
    c_.image_path = add_edit({108, 176, 296, 22}, URL_CAPACITY);
    c_.image_browse = add_button(QStringLiteral("Browse..."), {410, 176, 68, 22});
    add_label(QStringLiteral("X %"), {22, 208, 22, 12});
    c_.image_x = add_combo(number_items(0, 100, 1), {46, 204, 44, 22});
    add_label(QStringLiteral("Y %"), {100, 208, 22, 12});
    c_.image_y = add_combo(number_items(0, 100, 1), {124, 204, 44, 22});
    add_label(QStringLiteral("Image scale %"), {182, 208, 62, 12});
    c_.image_scale = add_edit({246, 204, 44, 22}, NUMBER_CAPACITY, true);
    c_.text_enabled = add_check(QStringLiteral("Text overlay"), {22, 232, 84, 22});
    c_.text = add_edit({108, 232, 370, 22}, OVERLAY_TEXT_CAPACITY);
    add_label(QStringLiteral("Bottom offset %"), {22, 264, 70, 12});
    c_.text_bottom = add_combo(number_items(0, 100, 1), {94, 260, 44, 22});
    add_label(QStringLiteral("Font"), {152, 264, 24, 12});
    c_.font_size = add_edit({178, 260, 40, 22}, NUMBER_CAPACITY, true);
    add_label(QStringLiteral("Scroll speed"), {232, 264, 56, 12});
    c_.scroll_speed = add_combo(number_items(10, SCROLL_STEPS, 10), {290, 260, 50, 22});
    add_label(QStringLiteral("Text color"), {22, 292, 48, 12});
    c_.text_color = add_edit({72, 288, 64, 22}, COLOUR_TEXT_CAPACITY);
    c_.text_color->setToolTip(QStringLiteral("#RRGGBB"));
    c_.text_color_pick = add_button(QStringLiteral("..."), {140, 288, 20, 22});
    add_label(QStringLiteral("Background"), {176, 292, 52, 12});
    c_.background_color = add_edit({230, 288, 64, 22}, COLOUR_TEXT_CAPACITY);
    c_.background_color->setToolTip(QStringLiteral("#RRGGBB"));
    c_.background_color_pick = add_button(QStringLiteral("..."), {298, 288, 20, 22});
    add_label(QStringLiteral("Encoder"), {22, 320, 40, 12});
    c_.encoder = add_combo(texts({ENCODER_NAMES[0], ENCODER_NAMES[1], ENCODER_NAMES[2]}), {64, 316, 110, 22});
    add_label(QStringLiteral("Bitrate"), {188, 320, 36, 12});
    c_.bitrate = add_edit({226, 316, 64, 22}, BITRATE_CAPACITY);
    c_.bitrate->setToolTip(QStringLiteral("Bits per second, with an optional k or M suffix, e.g. 6000k"));
}

void WorkflowEditor::build_record_group() {
    c_.record_group = add_group(QStringLiteral("Record / Push workflow"), {12, 160, 476, 88}, &record_members_);
    add_label(QStringLiteral("Recording directory"), {22, 179, 94, 12});
    c_.recording_dir = add_edit({120, 175, 360, 22}, URL_CAPACITY);
    add_label(QStringLiteral("Poll seconds"), {22, 213, 68, 12});
    c_.poll_seconds = add_edit({92, 209, 45, 22}, NUMBER_CAPACITY, true);
    c_.poll_seconds->setToolTip(QStringLiteral("Seconds between checks while waiting for the live; below 5 means 15"));
    add_label(QStringLiteral("Reconnects"), {154, 213, 65, 12});
    c_.reconnects = add_edit({222, 209, 45, 22}, NUMBER_CAPACITY, true);
    c_.delete_after_push = add_check(QStringLiteral("Delete after successful push"), {286, 209, 165, 22});
}

void WorkflowEditor::build_direct_group() {
    c_.direct_group = add_group(QStringLiteral("Direct workflow"), {12, 160, 476, 45}, &direct_members_);
    c_.prefer_stream_copy = add_check(QStringLiteral("Prefer stream copy"), {22, 176, 125, 22});
    c_.fallback_transcoding = add_check(QStringLiteral("Fallback to transcoding"), {175, 176, 145, 22});
}

void WorkflowEditor::build_buttons() {
    building_ = nullptr;
    c_.save = add_button(QStringLiteral("Save"), {SAVE_X, 376, BUTTON_WIDTH, BUTTON_HEIGHT}, true);
    c_.save->setDefault(true);
    c_.cancel = add_button(QStringLiteral("Cancel"), {CANCEL_X, 376, BUTTON_WIDTH, BUTTON_HEIGHT});
    // The small buttons beside an edit take the edit's flattened height.
    for (QWidget* button : {c_.source_browse, c_.image_browse, c_.text_color_pick, c_.background_color_pick})
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
    connect(c_.image_browse, &QPushButton::clicked, this, [this] { browse_image(); });
    connect(c_.source_browse, &QPushButton::clicked, this, [this] { browse_mp4(); });
    connect(c_.text_color_pick, &QPushButton::clicked, this, [this] { pick_colour(c_.text_color); });
    connect(c_.background_color_pick, &QPushButton::clicked, this, [this] { pick_colour(c_.background_color); });
    connect(c_.type, &QComboBox::currentIndexChanged, this, [this] { apply_type_layout(selected_type()); });
}

// ---- filling and layout ----

void WorkflowEditor::fill_from(const WorkflowSettings& settings) {
    // A type the list does not offer (only a hand-edited file has one) lists
    // as "Direct" in the main window, so it opens as Direct Restream.
    const int type_index = static_cast<int>(settings.type) - 1;
    const bool known_type = type_index >= 0 && type_index < TYPE_COUNT;
    c_.type->setCurrentIndex(known_type ? type_index : static_cast<int>(WorkflowType::direct_restream) - 1);
    c_.source_type->setCurrentIndex(settings.source_type == SourceType::youtube ? 0 : 1);
    c_.enabled->setChecked(settings.enabled);
    c_.name->setText(QString::fromStdString(settings.name));
    c_.source->setText(QString::fromStdString(settings.source));
    c_.output->setText(QString::fromStdString(settings.output_url));
    c_.image_enabled->setChecked(settings.image_enabled);
    c_.image_path->setText(QString::fromStdString(settings.image_path));
    c_.image_x->setCurrentIndex(clamp_percent(settings.image_x_pct));
    c_.image_y->setCurrentIndex(clamp_percent(settings.image_y_pct));
    c_.image_scale->setText(QString::number(settings.image_scale_pct));
    c_.text_enabled->setChecked(settings.text_enabled);
    c_.text->setText(QString::fromStdString(settings.text));
    c_.text_bottom->setCurrentIndex(clamp_percent(settings.text_bottom_pct));
    c_.font_size->setText(QString::number(settings.font_size));
    c_.text_color->setText(QString::fromStdString(editor_format_color(settings.text_color)));
    c_.background_color->setText(QString::fromStdString(editor_format_color(settings.background_color)));
    c_.scroll_speed->setCurrentIndex(scroll_index(settings.scroll_speed));
    const int encoder_index = c_.encoder->findText(QString::fromStdString(settings.encoder), Qt::MatchFixedString);
    c_.encoder->setCurrentIndex(encoder_index < 0 ? 0 : encoder_index);
    c_.bitrate->setText(QString::fromStdString(settings.bitrate));
    c_.recording_dir->setText(QString::fromStdString(settings.recording_dir));
    c_.poll_seconds->setText(QString::number(settings.poll_seconds));
    c_.reconnects->setText(QString::number(settings.reconnects));
    c_.delete_after_push->setChecked(settings.delete_after_push);
    c_.prefer_stream_copy->setChecked(settings.prefer_stream_copy);
    c_.fallback_transcoding->setChecked(settings.fallback_transcoding);
    for (QLineEdit* edit : {c_.name, c_.source, c_.output, c_.image_path, c_.text, c_.text_color, c_.background_color,
                            c_.bitrate, c_.recording_dir})
        edit->setCursorPosition(0);
}

WorkflowType WorkflowEditor::selected_type() const {
    return static_cast<WorkflowType>(c_.type->currentIndex() + 1);
}

void WorkflowEditor::apply_type_layout(WorkflowType type) {
    const bool mp4 = type == WorkflowType::mp4_loop;
    const bool overlay = type == WorkflowType::overlay_stream || mp4;
    for (QWidget* member : overlay_members_) member->setVisible(overlay);
    for (QWidget* member : record_members_) member->setVisible(type == WorkflowType::record_then_push);
    for (QWidget* member : direct_members_) member->setVisible(type == WorkflowType::direct_restream);

    c_.source_browse->setVisible(mp4);
    c_.source_type->setVisible(!mp4);
    c_.source_type_label->setVisible(!mp4);
    c_.source_label->setText(mp4 ? QStringLiteral("MP4 file") : QStringLiteral("Source URL"));
    c_.source->setToolTip(mp4 ? QString() : QStringLiteral("A YouTube page, or an HTTP(S) HLS playlist URL"));
    place(c_.source, {FIELD_X, SOURCE_Y, mp4 ? SOURCE_WIDTH_MP4 : SOURCE_WIDTH_URL, SOURCE_HEIGHT});

    const TypeLayout& layout = layout_for(type);
    place(c_.save, {SAVE_X, layout.buttons_y, BUTTON_WIDTH, BUTTON_HEIGHT});
    place(c_.cancel, {CANCEL_X, layout.buttons_y, BUTTON_WIDTH, BUTTON_HEIGHT});

    setFixedSize(dialog_size(units_, DIALOG_WIDTH_DLU, layout.client_height));
    setProperty(CENTERED_PROPERTY, QVariant());
    centre_window(this);
    update();
}

// ---- saving ----

QWidget* WorkflowEditor::control_for(EditorField field) const {
    switch (field) {
        case EditorField::name:
            return c_.name;
        case EditorField::source:
            return c_.source;
        case EditorField::output:
            return c_.output;
        case EditorField::image_path:
            return c_.image_path;
        case EditorField::bitrate:
            return c_.bitrate;
        case EditorField::text_color:
            return c_.text_color;
        case EditorField::background_color:
            return c_.background_color;
    }
    return c_.name;
}

void WorkflowEditor::warn_about(const EditorProblem& problem) {
    QWidget* focus = control_for(problem.field);
    show_message(this, MessageIcon::warning, QString::fromStdString(problem.title),
                 QString::fromStdString(problem.message));
    focus->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(focus)) edit->selectAll();
}

std::optional<WorkflowSettings> WorkflowEditor::read_checked() {
    auto index = [](const QComboBox* combo) { return std::max(0, combo->currentIndex()); };
    auto text = [](const QLineEdit* edit, size_t capacity) { return utf8(edit->text(), capacity); };

    WorkflowSettings settings = original_;  // fields no control edits travel unchanged
    settings.name = text(c_.name, NAME_CAPACITY);
    settings.type = static_cast<WorkflowType>(index(c_.type) + 1);
    settings.source_type = index(c_.source_type) == 0 ? SourceType::youtube : SourceType::direct;
    settings.enabled = c_.enabled->isChecked();
    settings.source = text(c_.source, URL_CAPACITY);
    settings.output_url = text(c_.output, URL_CAPACITY);
    settings.image_enabled = c_.image_enabled->isChecked();
    settings.image_path = text(c_.image_path, URL_CAPACITY);
    settings.text_enabled = c_.text_enabled->isChecked();
    settings.bitrate = text(c_.bitrate, BITRATE_CAPACITY);
    if (std::optional<EditorProblem> problem = editor_check(settings)) {
        warn_about(*problem);
        return std::nullopt;
    }
    settings.image_x_pct = index(c_.image_x);
    settings.image_y_pct = index(c_.image_y);
    settings.image_scale_pct = read_decimal(c_.image_scale->text());
    settings.text = text(c_.text, OVERLAY_TEXT_CAPACITY);
    settings.reserved = 0;
    settings.text_bottom_pct = index(c_.text_bottom);
    settings.font_size = read_decimal(c_.font_size->text());
    const std::optional<uint32_t> text_rgb = editor_parse_color(text(c_.text_color, COLOUR_TEXT_CAPACITY));
    if (!text_rgb) {
        warn_about(editor_color_problem(EditorField::text_color));
        return std::nullopt;
    }
    const std::optional<uint32_t> back_rgb = editor_parse_color(text(c_.background_color, COLOUR_TEXT_CAPACITY));
    if (!back_rgb) {
        warn_about(editor_color_problem(EditorField::background_color));
        return std::nullopt;
    }
    settings.text_color = *text_rgb;
    settings.background_color = *back_rgb;
    settings.scroll_speed = (index(c_.scroll_speed) + 1) * 10;
    settings.encoder = utf8(c_.encoder->currentText(), ENCODER_CAPACITY);
    settings.recording_dir = text(c_.recording_dir, URL_CAPACITY);
    settings.poll_seconds = editor_poll_seconds(read_decimal(c_.poll_seconds->text()));
    settings.reconnects = read_decimal(c_.reconnects->text());
    settings.delete_after_push = c_.delete_after_push->isChecked();
    settings.prefer_stream_copy = c_.prefer_stream_copy->isChecked();
    settings.fallback_transcoding = c_.fallback_transcoding->isChecked();
    return settings;
}

bool WorkflowEditor::save() {
    std::optional<WorkflowSettings> settings = read_checked();
    if (!settings) return false;
    workflow_settings_replace(workflow_, *settings);
    accept();
    return true;
}

// ---- choosers ----

void WorkflowEditor::browse_image() {
    QLineEdit* edit = c_.image_path;
    const QString chosen = ui_hooks().open_file(
        this, edit->text(),
        QStringLiteral("Image files (*.png *.jpg *.jpeg *.bmp *.PNG *.JPG *.JPEG *.BMP);;All files (*)"));
    // A path longer than the field holds is refused rather than cut short.
    if (!chosen.isEmpty() && chosen.size() < static_cast<qsizetype>(URL_CAPACITY)) edit->setText(chosen);
}

void WorkflowEditor::browse_mp4() {
    QLineEdit* edit = c_.source;
    const QString chosen =
        ui_hooks().open_file(this, edit->text(), QStringLiteral("MP4 video files (*.mp4 *.MP4);;All files (*)"));
    if (!chosen.isEmpty() && chosen.size() < static_cast<qsizetype>(URL_CAPACITY)) edit->setText(chosen);
}

void WorkflowEditor::pick_colour(QLineEdit* edit) {
    QColor initial(Qt::black);
    if (std::optional<uint32_t> current = editor_parse_color(utf8(edit->text(), COLOUR_TEXT_CAPACITY)))
        initial = QColor(*current & 0xFF, (*current >> 8) & 0xFF, (*current >> 16) & 0xFF);
    const std::optional<QColor> chosen = ui_hooks().pick_colour(this, initial);
    if (!chosen) return;
    const uint32_t stored = static_cast<uint32_t>(chosen->red()) | static_cast<uint32_t>(chosen->green()) << 8 |
                            static_cast<uint32_t>(chosen->blue()) << 16;
    edit->setText(QString::fromStdString(editor_format_color(stored)));
    edit->selectAll();
    edit->setFocus(Qt::OtherFocusReason);
}

EditorResult edit_workflow(QWidget* owner, Workflow& workflow) {
    WorkflowEditor editor(owner, workflow);
    return editor.exec() == QDialog::Accepted ? EditorResult::save : EditorResult::cancel;
}
