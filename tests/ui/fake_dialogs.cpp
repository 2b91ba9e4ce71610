#include "fake_dialogs.h"

namespace {

FakeDialogs& fakes() {
    static FakeDialogs instance;
    return instance;
}

MessageAnswer fake_message(QWidget*, MessageIcon icon, const QString& title, const QString& text) {
    fakes().messages.push_back({icon, title, text});
    if (fakes().answers.empty()) return icon == MessageIcon::question ? MessageAnswer::yes : MessageAnswer::ok;
    MessageAnswer answer = fakes().answers.front();
    fakes().answers.pop_front();
    return answer;
}

}  // namespace

void DialogsFixture::SetUp() {
    AppFixture::SetUp();
    fakes() = FakeDialogs{};
    ui_hooks() = {
        fake_message, [](QWidget*, const QString&, const QString&) { return fakes().file_answer; },
        [](QWidget*, const QColor& initial) { return fakes().colour_initial = initial, fakes().colour_answer; },
        [](const QString& program, const QStringList& arguments) {
            fakes().launches.emplace_back(program, arguments);
            return fakes().launch_result;
        }};
    dialogs_ = &fakes();
}

void DialogsFixture::TearDown() {
    ui_hooks_reset();
    AppFixture::TearDown();
}
