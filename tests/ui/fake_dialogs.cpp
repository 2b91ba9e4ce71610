#include "fake_dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

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

QString fake_open_file(QWidget*, const QString&, const QString&) {
    return fakes().file_answer;
}

std::optional<QColor> fake_pick_colour(QWidget*, const QColor& initial) {
    fakes().colour_initial = initial;
    return fakes().colour_answer;
}

bool fake_launch(const QString& program, const QString& argument) {
    fakes().launches.emplace_back(program, argument);
    return fakes().launch_result;
}

}  // namespace

FakeDialogs& install_fake_dialogs() {
    fakes() = FakeDialogs{};
    UiHooks& hooks = ui_hooks();
    hooks.message_box = fake_message;
    hooks.open_file = fake_open_file;
    hooks.pick_colour = fake_pick_colour;
    hooks.launch = fake_launch;
    return fakes();
}

bool process_events_until(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
