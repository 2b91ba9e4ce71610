// The desktop program: the shared start-up (folders, launcher entries,
// configuration) and then the main window until the user closes it.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/startup.h"
#include "engines/engine_contract.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace {

// Without a display Qt would abort; say why instead.
bool display_available() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0') return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

int main(int argc, char** argv) {
    if (!display_available()) {
        std::fprintf(stderr,
                     "Veltrona could not open its main window: no display (DISPLAY is not set).\n"
                     "On a machine without a display, run workflows with veltrona-cli.\n");
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrona"));
    QGuiApplication::setDesktopFileName(QStringLiteral("veltrona"));
    // The context lives for the whole process and is never freed: the
    // background yt-dlp probe may still be finishing when the window closes.
    auto* app = new AppContext;
    StartupProblem problem = app_startup(*app, StartupOptions{.data_dir = "", .repair_shortcuts = true});
    if (problem.data_dir_unusable) {
        show_message(nullptr, MessageIcon::error, QStringLiteral("Veltrona"), QString::fromStdString(problem.text));
        return 1;
    }
    app->engines = &default_engine_table();
    return ui_run(*app, problem.text);
}
