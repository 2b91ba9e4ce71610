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
#include <array>
#include <climits>

#include "platform/text.h"
#include "ui/dialogs.h"
#include "workflow/check_messages.h"
#include "workflow/editor_rules.h"

namespace {

using namespace editor_id;

constexpr int DIALOG_WIDTH_DLU = 500;
constexpr int LABEL_X = 12, LABEL_WIDTH = 88, FIELD_X = 104;
constexpr int SOURCE_Y = 99, SOURCE_HEIGHT = 22, SOURCE_WIDTH_URL = 384, SOURCE_WIDTH_MP4 = 330;
constexpr int BUTTON_WIDTH = 66, BUTTON_HEIGHT = 24, SAVE_X = 348, CANCEL_X = 422;
constexpr int COLOUR_TEXT_CAPACITY = 32, NUMBER_CAPACITY = 32;

constexpr std::array OVERLAY_GROUP = {overlay_group,
                                      image_enabled,
                                      image_path,
                                      image_browse,
                                      image_x,
                                      image_y,
                                      image_scale,
                                      text_enabled,
                                      text,
                                      text_bottom,
                                      font_size,
                                      text_color,
                                      text_color_pick,
                                      background_color,
                                      background_color_pick,
                                      scroll_speed,
                                      encoder,
                                      bitrate,
                                      228,
                                      229,
                                      230,
                                      314,
                                      315,
                                      316,
                                      317,
                                      233,
                                      234,
                                      235};
constexpr std::array RECORD_GROUP = {record_group,      recording_dir, poll_seconds, reconnects,
                                     delete_after_push, 236,           237,          238};
constexpr std::array DIRECT_GROUP = {direct_group, prefer_stream_copy, fallback_transcoding};

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

const TypeLayout& layout_for(int type) {
    if (type == static_cast<int>(WorkflowType::record_then_push)) return RECORD_LAYOUT;
    if (type == static_cast<int>(WorkflowType::direct_restream)) return DIRECT_LAYOUT;
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

int focus_id_for(EditorField field) {
    switch (field) {
        case EditorField::name:
            return name;
        case EditorField::source:
            return source;
        case EditorField::output:
            return output;
        case EditorField::image_path:
            return image_path;
        case EditorField::text_color:
            return text_color;
        case EditorField::background_color:
            return background_color;
    }
    return name;
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
    fit_side_buttons();
    fill_from(original_);
    connect_controls();
    apply_type_layout(selected_type());
}

QWidget* WorkflowEditor::control(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QSize WorkflowEditor::client_size_for(int type) const {
    return dialog_size(units_, DIALOG_WIDTH_DLU, layout_for(type).client_height);
}

// ---- building ----

QLabel* WorkflowEditor::add_label(int id, const QString& text, QRect dlu) {
    auto* label = new QLabel(text, this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    if (id != 0) controls_[id] = label;
    return label;
}

QLineEdit* WorkflowEditor::add_edit(int id, QRect dlu, int capacity, bool digits) {
    auto* edit = new QLineEdit(this);
    edit->setMaxLength(capacity - 1);
    if (digits) {
        static const QRegularExpression only_digits(QStringLiteral("[0-9]*"));
        edit->setValidator(new QRegularExpressionValidator(only_digits, edit));
    }
    edit->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    flatten_control(edit);
    controls_[id] = edit;
    return edit;
}

QComboBox* WorkflowEditor::add_combo(int id, const QStringList& items, QRect dlu) {
    auto* combo = new QComboBox(this);
    combo->addItems(items);
    combo->setMaxVisibleItems(12);
    combo->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    flatten_control(combo);
    controls_[id] = combo;
    return combo;
}

ThemedCheckBox* WorkflowEditor::add_check(int id, const QString& text, QRect dlu) {
    auto* check = new ThemedCheckBox(text, this);
    check->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    controls_[id] = check;
    return check;
}

ThemedButton* WorkflowEditor::add_button(int id, const QString& text, QRect dlu, bool primary) {
    auto* button = new ThemedButton(text, this, primary);
    button->setAutoDefault(false);
    button->setGeometry(dialog_rect(units_, dlu.x(), dlu.y(), dlu.width(), dlu.height()));
    controls_[id] = button;
    return button;
}

void WorkflowEditor::place(int id, int x, int y, int width, int height) {
    QWidget* widget = control(id);
    widget->setGeometry(dialog_rect(units_, x, y, width, height));
    fit_control_height(widget);
}

// The small buttons beside an edit take the edit's flattened height.
void WorkflowEditor::fit_side_buttons() {
    for (int id : {source_browse, image_browse, text_color_pick, background_color_pick}) fit_to_text_line(control(id));
}

void WorkflowEditor::build_top_rows() {
    add_label(0, QStringLiteral("Name"), {LABEL_X, 19, LABEL_WIDTH, 12});
    add_edit(name, {FIELD_X, 15, 384, 22}, NAME_CAPACITY);
    add_label(0, QStringLiteral("Workflow type"), {LABEL_X, 47, LABEL_WIDTH, 12});
    add_combo(type,
              texts({workflow_type_editor_name(1), workflow_type_editor_name(2), workflow_type_editor_name(3),
                     workflow_type_editor_name(4)}),
              {FIELD_X, 43, 170, 22});
    add_check(enabled, QStringLiteral("Enabled"), {290, 43, 100, 22});
    add_label(source_type_label, QStringLiteral("Source type"), {LABEL_X, 75, LABEL_WIDTH, 12});
    add_combo(source_type, texts({"YouTube URL", "Direct URL"}), {FIELD_X, 71, 170, 22});
    add_label(source_label, QStringLiteral("Source URL"), {LABEL_X, 103, LABEL_WIDTH, 12});
    add_edit(source, {FIELD_X, SOURCE_Y, SOURCE_WIDTH_URL, SOURCE_HEIGHT}, URL_CAPACITY);
    add_button(source_browse, QStringLiteral("Browse..."), {440, 99, 48, 22});
    add_label(0, QStringLiteral("Output RTMP(S)"), {LABEL_X, 131, LABEL_WIDTH, 12});
    add_edit(output, {FIELD_X, 127, 384, 22}, URL_CAPACITY)
        ->setToolTip(QStringLiteral("rtmp://host/application/stream-key or rtmps://..."));
}

void WorkflowEditor::build_overlay_group() {
    auto* group = new QGroupBox(QStringLiteral("Overlay workflow"), this);
    group->setGeometry(dialog_rect(units_, 12, 160, 476, 192));
    controls_[overlay_group] = group;
    add_check(image_enabled, QStringLiteral("Image overlay"), {22, 176, 84, 22});
    add_edit(image_path, {108, 176, 296, 22}, URL_CAPACITY);
    add_button(image_browse, QStringLiteral("Browse..."), {410, 176, 68, 22});
    add_label(228, QStringLiteral("X %"), {22, 208, 22, 12});
    add_combo(image_x, number_items(0, 100, 1), {46, 204, 44, 22});
    add_label(229, QStringLiteral("Y %"), {100, 208, 22, 12});
    add_combo(image_y, number_items(0, 100, 1), {124, 204, 44, 22});
    add_label(230, QStringLiteral("Image scale %"), {182, 208, 62, 12});
    add_edit(image_scale, {246, 204, 44, 22}, NUMBER_CAPACITY, true);
    add_check(text_enabled, QStringLiteral("Text overlay"), {22, 232, 84, 22});
    add_edit(text, {108, 232, 370, 22}, OVERLAY_TEXT_CAPACITY);
    add_label(314, QStringLiteral("Bottom offset %"), {22, 264, 70, 12});
    add_combo(text_bottom, number_items(0, 100, 1), {94, 260, 44, 22});
    add_label(233, QStringLiteral("Font"), {152, 264, 24, 12});
    add_edit(font_size, {178, 260, 40, 22}, NUMBER_CAPACITY, true);
    add_label(317, QStringLiteral("Scroll speed"), {232, 264, 56, 12});
    add_combo(scroll_speed, number_items(10, SCROLL_STEPS, 10), {290, 260, 50, 22});
    add_label(315, QStringLiteral("Text color"), {22, 292, 48, 12});
    add_edit(text_color, {72, 288, 64, 22}, COLOUR_TEXT_CAPACITY)->setToolTip(QStringLiteral("#RRGGBB"));
    add_button(text_color_pick, QStringLiteral("..."), {140, 288, 20, 22});
    add_label(316, QStringLiteral("Background"), {176, 292, 52, 12});
    add_edit(background_color, {230, 288, 64, 22}, COLOUR_TEXT_CAPACITY)->setToolTip(QStringLiteral("#RRGGBB"));
    add_button(background_color_pick, QStringLiteral("..."), {298, 288, 20, 22});
    add_label(234, QStringLiteral("Encoder"), {22, 320, 40, 12});
    add_combo(encoder, texts({ENCODER_NAMES[0], ENCODER_NAMES[1], ENCODER_NAMES[2]}), {64, 316, 110, 22});
    add_label(235, QStringLiteral("Bitrate"), {188, 320, 36, 12});
    add_edit(bitrate, {226, 316, 64, 22}, BITRATE_CAPACITY)
        ->setToolTip(QStringLiteral("Bits per second, with an optional k or M suffix, e.g. 6000k"));
}

void WorkflowEditor::build_record_group() {
    auto* group = new QGroupBox(QStringLiteral("Record / Push workflow"), this);
    group->setGeometry(dialog_rect(units_, 12, 160, 476, 88));
    controls_[record_group] = group;
    add_label(236, QStringLiteral("Recording directory"), {22, 179, 94, 12});
    add_edit(recording_dir, {120, 175, 360, 22}, URL_CAPACITY);
    add_label(237, QStringLiteral("Poll seconds"), {22, 213, 68, 12});
    add_edit(poll_seconds, {92, 209, 45, 22}, NUMBER_CAPACITY, true)
        ->setToolTip(QStringLiteral("Seconds between checks while waiting for the live; below 5 means 15"));
    add_label(238, QStringLiteral("Reconnects"), {154, 213, 65, 12});
    add_edit(reconnects, {222, 209, 45, 22}, NUMBER_CAPACITY, true);
    add_check(delete_after_push, QStringLiteral("Delete after successful push"), {286, 209, 165, 22});
}

void WorkflowEditor::build_direct_group() {
    auto* group = new QGroupBox(QStringLiteral("Direct workflow"), this);
    group->setGeometry(dialog_rect(units_, 12, 160, 476, 45));
    controls_[direct_group] = group;
    add_check(prefer_stream_copy, QStringLiteral("Prefer stream copy"), {22, 176, 125, 22});
    add_check(fallback_transcoding, QStringLiteral("Fallback to transcoding"), {175, 176, 145, 22});
}

void WorkflowEditor::build_buttons() {
    ThemedButton* save =
        add_button(save_button, QStringLiteral("Save"), {SAVE_X, 376, BUTTON_WIDTH, BUTTON_HEIGHT}, true);
    save->setDefault(true);
    add_button(cancel_button, QStringLiteral("Cancel"), {CANCEL_X, 376, BUTTON_WIDTH, BUTTON_HEIGHT});
    QString group_style = QStringLiteral(
                              "QGroupBox { border: 1px solid %1; margin-top: 0.6em; color: %2; }"
                              "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 4px; }")
                              .arg(ui_colour_css(UiColour::outline), ui_colour_css(UiColour::text));
    for (int id : {overlay_group, record_group, direct_group}) control(id)->setStyleSheet(group_style);
}

void WorkflowEditor::connect_controls() {
    connect(static_cast<QPushButton*>(control(save_button)), &QPushButton::clicked, this, [this] { save(); });
    connect(static_cast<QPushButton*>(control(cancel_button)), &QPushButton::clicked, this, &QDialog::reject);
    connect(static_cast<QPushButton*>(control(image_browse)), &QPushButton::clicked, this, [this] { browse_image(); });
    connect(static_cast<QPushButton*>(control(source_browse)), &QPushButton::clicked, this, [this] { browse_mp4(); });
    connect(static_cast<QPushButton*>(control(text_color_pick)), &QPushButton::clicked, this,
            [this] { pick_colour(text_color); });
    connect(static_cast<QPushButton*>(control(background_color_pick)), &QPushButton::clicked, this,
            [this] { pick_colour(background_color); });
    connect(static_cast<QComboBox*>(control(type)), &QComboBox::currentIndexChanged, this,
            [this] { apply_type_layout(selected_type()); });
}

// ---- filling and layout ----

void WorkflowEditor::fill_from(const WorkflowSettings& settings) {
    auto edit = [this](int id) { return static_cast<QLineEdit*>(control(id)); };
    auto combo = [this](int id) { return static_cast<QComboBox*>(control(id)); };
    auto check = [this](int id) { return static_cast<QCheckBox*>(control(id)); };
    // A type the list does not offer (only a hand-edited file has one) lists
    // as "Direct" in the main window, so it opens as Direct Restream.
    const bool known_type = settings.type >= 1 && settings.type <= 4;
    combo(type)->setCurrentIndex(known_type ? settings.type - 1 : 2);
    combo(source_type)->setCurrentIndex(settings.source_type == 1 ? 0 : 1);
    check(enabled)->setChecked(settings.enabled != 0);
    edit(name)->setText(QString::fromStdString(settings.name));
    edit(source)->setText(QString::fromStdString(settings.source));
    edit(output)->setText(QString::fromStdString(settings.output_url));
    check(image_enabled)->setChecked(settings.image_enabled != 0);
    edit(image_path)->setText(QString::fromStdString(settings.image_path));
    combo(image_x)->setCurrentIndex(clamp_percent(settings.image_x_pct));
    combo(image_y)->setCurrentIndex(clamp_percent(settings.image_y_pct));
    edit(image_scale)->setText(QString::number(settings.image_scale_pct));
    check(text_enabled)->setChecked(settings.text_enabled != 0);
    edit(text)->setText(QString::fromStdString(settings.text));
    combo(text_bottom)->setCurrentIndex(clamp_percent(settings.text_bottom_pct));
    edit(font_size)->setText(QString::number(settings.font_size));
    edit(text_color)->setText(QString::fromStdString(editor_format_color(settings.text_color)));
    edit(background_color)->setText(QString::fromStdString(editor_format_color(settings.background_color)));
    combo(scroll_speed)->setCurrentIndex(scroll_index(settings.scroll_speed));
    const int encoder_index = combo(encoder)->findText(QString::fromStdString(settings.encoder), Qt::MatchFixedString);
    combo(encoder)->setCurrentIndex(encoder_index < 0 ? 0 : encoder_index);
    edit(bitrate)->setText(QString::fromStdString(settings.bitrate));
    edit(recording_dir)->setText(QString::fromStdString(settings.recording_dir));
    edit(poll_seconds)->setText(QString::number(settings.poll_seconds));
    edit(reconnects)->setText(QString::number(settings.reconnects));
    check(delete_after_push)->setChecked(settings.delete_after_push != 0);
    check(prefer_stream_copy)->setChecked(settings.prefer_stream_copy != 0);
    check(fallback_transcoding)->setChecked(settings.fallback_transcoding != 0);
    for (int id : {name, source, output, image_path, text, text_color, background_color, bitrate, recording_dir})
        edit(id)->setCursorPosition(0);
}

int WorkflowEditor::selected_type() const {
    return static_cast<QComboBox*>(control(type))->currentIndex() + 1;
}

void WorkflowEditor::apply_type_layout(int workflow_type) {
    const bool overlay = workflow_type == 1 || workflow_type == 4;
    const bool mp4 = workflow_type == 4;
    for (int id : OVERLAY_GROUP) control(id)->setVisible(overlay);
    for (int id : RECORD_GROUP) control(id)->setVisible(workflow_type == 2);
    for (int id : DIRECT_GROUP) control(id)->setVisible(workflow_type == 3);

    control(source_browse)->setVisible(mp4);
    control(source_type)->setVisible(!mp4);
    control(source_type_label)->setVisible(!mp4);
    static_cast<QLabel*>(control(source_label))
        ->setText(mp4 ? QStringLiteral("MP4 file") : QStringLiteral("Source URL"));
    control(source)->setToolTip(mp4 ? QString() : QStringLiteral("A YouTube page, or an HTTP(S) HLS playlist URL"));
    place(source, FIELD_X, SOURCE_Y, mp4 ? SOURCE_WIDTH_MP4 : SOURCE_WIDTH_URL, SOURCE_HEIGHT);

    if (workflow_type == 2) {
        place(record_group, 12, 160, 476, 88);
        place(236, 22, 179, 94, 12);
        place(recording_dir, 120, 175, 360, 22);
        place(237, 22, 213, 68, 12);
        place(poll_seconds, 92, 209, 45, 22);
        place(238, 154, 213, 65, 12);
        place(reconnects, 222, 209, 45, 22);
        place(delete_after_push, 286, 209, 165, 22);
    } else if (workflow_type == 3) {
        place(direct_group, 12, 160, 476, 45);
        place(prefer_stream_copy, 22, 176, 125, 22);
        place(fallback_transcoding, 175, 176, 145, 22);
    }
    const TypeLayout& layout = layout_for(workflow_type);
    place(save_button, SAVE_X, layout.buttons_y, BUTTON_WIDTH, BUTTON_HEIGHT);
    place(cancel_button, CANCEL_X, layout.buttons_y, BUTTON_WIDTH, BUTTON_HEIGHT);

    const QSize client = client_size_for(workflow_type);
    setFixedSize(client);
    setProperty(CENTERED_PROPERTY, QVariant());
    centre_window(this);
    update();
}

// ---- saving ----

void WorkflowEditor::warn_about(const EditorProblem& problem) {
    const int focus_id = focus_id_for(problem.field);
    show_message(this, MessageIcon::warning, QString::fromStdString(problem.title),
                 QString::fromStdString(problem.message));
    control(focus_id)->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control(focus_id))) edit->selectAll();
}

std::optional<WorkflowSettings> WorkflowEditor::read_checked() {
    auto line = [this](int id) { return static_cast<QLineEdit*>(control(id))->text(); };
    auto index = [this](int id) { return std::max(0, static_cast<QComboBox*>(control(id))->currentIndex()); };
    auto flag = [this](int id) { return static_cast<QCheckBox*>(control(id))->isChecked() ? 1 : 0; };

    WorkflowSettings settings = original_;  // fields no control edits travel unchanged
    settings.name = utf8(line(name), NAME_CAPACITY);
    settings.type = index(type) + 1;
    settings.source_type = index(source_type) + 1;
    settings.enabled = flag(enabled);
    settings.source = utf8(line(source), URL_CAPACITY);
    settings.output_url = utf8(line(output), URL_CAPACITY);
    settings.image_enabled = flag(image_enabled);
    settings.image_path = utf8(line(image_path), URL_CAPACITY);
    if (std::optional<EditorProblem> problem = editor_check(settings)) {
        warn_about(*problem);
        return std::nullopt;
    }
    settings.image_x_pct = index(image_x);
    settings.image_y_pct = index(image_y);
    settings.image_scale_pct = read_decimal(line(image_scale));
    settings.text_enabled = flag(text_enabled);
    settings.text = utf8(line(text), OVERLAY_TEXT_CAPACITY);
    settings.reserved = 0;
    settings.text_bottom_pct = index(text_bottom);
    settings.font_size = read_decimal(line(font_size));
    const std::optional<uint32_t> text_rgb = editor_parse_color(utf8(line(text_color), COLOUR_TEXT_CAPACITY));
    if (!text_rgb) {
        warn_about(editor_color_problem(EditorField::text_color));
        return std::nullopt;
    }
    const std::optional<uint32_t> back_rgb = editor_parse_color(utf8(line(background_color), COLOUR_TEXT_CAPACITY));
    if (!back_rgb) {
        warn_about(editor_color_problem(EditorField::background_color));
        return std::nullopt;
    }
    settings.text_color = *text_rgb;
    settings.background_color = *back_rgb;
    settings.scroll_speed = (index(scroll_speed) + 1) * 10;
    settings.encoder = utf8(static_cast<QComboBox*>(control(encoder))->currentText(), ENCODER_CAPACITY);
    settings.bitrate = utf8(line(bitrate), BITRATE_CAPACITY);
    settings.recording_dir = utf8(line(recording_dir), URL_CAPACITY);
    settings.poll_seconds = editor_poll_seconds(read_decimal(line(poll_seconds)));
    settings.reconnects = read_decimal(line(reconnects));
    settings.delete_after_push = flag(delete_after_push);
    settings.prefer_stream_copy = flag(prefer_stream_copy);
    settings.fallback_transcoding = flag(fallback_transcoding);
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
    auto* edit = static_cast<QLineEdit*>(control(image_path));
    const QString chosen = ui_hooks().open_file(
        this, edit->text(),
        QStringLiteral("Image files (*.png *.jpg *.jpeg *.bmp *.PNG *.JPG *.JPEG *.BMP);;All files (*)"));
    // A path longer than the field holds is refused rather than cut short.
    if (!chosen.isEmpty() && chosen.size() < static_cast<qsizetype>(URL_CAPACITY)) edit->setText(chosen);
}

void WorkflowEditor::browse_mp4() {
    auto* edit = static_cast<QLineEdit*>(control(source));
    const QString chosen =
        ui_hooks().open_file(this, edit->text(), QStringLiteral("MP4 video files (*.mp4 *.MP4);;All files (*)"));
    if (!chosen.isEmpty() && chosen.size() < static_cast<qsizetype>(URL_CAPACITY)) edit->setText(chosen);
}

void WorkflowEditor::pick_colour(int edit_id) {
    auto* edit = static_cast<QLineEdit*>(control(edit_id));
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
