// Answers for the shell's dialogs in tests: every message box is recorded
// and answered from a queue (Yes when it is empty), file and colour choosers
// return what the test set, and player launches are recorded. A test of the
// DialogsFixture gets fresh fakes; Qt's dialogs come back when it ends.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <deque>
#include <optional>
#include <vector>

#include "support/app_fixture.h"
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
    std::vector<std::pair<QString, QStringList>> launches;  // program, arguments
};

class DialogsFixture : public AppFixture {
  protected:
    void SetUp() override;
    void TearDown() override;
    FakeDialogs* dialogs_ = nullptr;
};
