// The default hooks: Qt's message box, file dialog and colour dialog, and a
// detached process for the player. The colour dialog keeps its custom
// colours for the life of the process, which is what users expect from one
// picker shared by every editor.
#include "ui/dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>

namespace {

QMessageBox::Icon qt_icon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::information:
            return QMessageBox::Information;
        case MessageIcon::warning:
            return QMessageBox::Warning;
        case MessageIcon::error:
            return QMessageBox::Critical;
        case MessageIcon::question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

MessageAnswer qt_message_box(QWidget* owner, MessageIcon icon, const QString& title, const QString& text) {
    const bool question = icon == MessageIcon::question;
    QMessageBox box(qt_icon(icon), title, text, question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                    owner);
    const int answer = box.exec();
    if (!question) return MessageAnswer::ok;
    return answer == QMessageBox::Yes ? MessageAnswer::yes : MessageAnswer::no;
}

QString qt_open_file(QWidget* owner, const QString& start_path, const QString& filters) {
    return QFileDialog::getOpenFileName(owner, QString(), start_path, filters);
}

std::optional<QColor> qt_pick_colour(QWidget* owner, const QColor& initial) {
    const QColor chosen = QColorDialog::getColor(initial, owner);
    if (!chosen.isValid()) return std::nullopt;
    return chosen;
}

bool qt_launch(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

UiHooks default_hooks() {
    UiHooks hooks;
    hooks.message_box = qt_message_box;
    hooks.open_file = qt_open_file;
    hooks.pick_colour = qt_pick_colour;
    hooks.launch = qt_launch;
    return hooks;
}

}  // namespace

UiHooks& ui_hooks() {
    static UiHooks hooks = default_hooks();
    return hooks;
}

void ui_hooks_reset() {
    ui_hooks() = default_hooks();
}

MessageAnswer show_message(QWidget* owner, MessageIcon icon, const QString& title, const QString& text) {
    return ui_hooks().message_box(owner, icon, title, text);
}
