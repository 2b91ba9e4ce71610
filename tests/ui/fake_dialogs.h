// Answers for the shell's dialogs in tests: every message box is recorded
// and answered from a queue (Yes when it is empty), file and colour choosers
// return what the test set, and player launches are recorded.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "ui/dialogs.h"

struct RecordedMessage {
    MessageIcon icon;
    QString title;
    QString text;
};

struct FakeDialogs {
    std::vector<RecordedMessage> messages;
    std::deque<MessageAnswer> answers;
    QString file_answer;
    std::optional<QColor> colour_answer;
    QColor colour_initial;
    bool launch_result = true;
    std::vector<std::pair<QString, QString>> launches;  // program, argument
};

// Installs the fakes with fresh records; ui_hooks_reset() puts Qt's back.
FakeDialogs& install_fake_dialogs();

// Processes events until `done` or `timeout_ms` has passed.
bool process_events_until(const std::function<bool()>& done, int timeout_ms);
