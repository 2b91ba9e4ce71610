// Every message box, file chooser, colour picker and player launch of the
// desktop shell goes through one replaceable table of hooks, so tests can
// answer them without a dialog ever blocking, and the windows stay plain.
//
// The defaults show Qt's own dialogs, owned by the window that asks. Only
// the UI thread calls these.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

enum class MessageIcon { information, warning, error, question };
enum class MessageAnswer { ok, yes, no };

struct UiHooks {
    // A question box offers Yes and No; every other kind only OK.
    MessageAnswer (*message_box)(QWidget* owner, MessageIcon icon, const QString& title, const QString& text) = nullptr;
    // An existing file chosen by the user, or an empty text.
    QString (*open_file)(QWidget* owner, const QString& start_path, const QString& filters) = nullptr;
    // The colour chosen, or none when the picker was cancelled.
    std::optional<QColor> (*pick_colour)(QWidget* owner, const QColor& initial) = nullptr;
    // Starts `program` detached with `arguments`; false when it could not start.
    bool (*launch)(const QString& program, const QStringList& arguments) = nullptr;
};

// The hooks in force (the Qt dialogs unless replaced).
[[nodiscard]] UiHooks& ui_hooks();
// Puts the Qt dialogs back.
void ui_hooks_reset();

MessageAnswer show_message(QWidget* owner, MessageIcon icon, const QString& title, const QString& text);
