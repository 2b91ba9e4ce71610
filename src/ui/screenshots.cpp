// Pictures of the desktop shell for the documentation and for review: the
// main window with four sample workflows and the editor for each type,
// drawn offscreen into a temporary data folder and saved as PNG files in
// the folder given on the command line. Run by scripts/screenshots.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "app/app_context.h"
#include "ui/editor.h"
#include "ui/main_window.h"
#include "ui/presentation/samples.h"
#include "ui/style.h"

namespace {

bool save(QWidget& widget, const QString& folder, const char* name) {
    widget.show();
    const QString path = folder + QLatin1Char('/') + QString::fromUtf8(name) + QStringLiteral(".png");
    if (widget.grab().save(path)) return true;
    std::fprintf(stderr, "cannot write %s\n", path.toUtf8().constData());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltrona_screenshots FOLDER\n");
        return 2;
    }
    QApplication application(argc, argv);
    style_init();
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir scratch(folder + QStringLiteral("/.data"));
    if (!QDir().mkpath(scratch.path())) return 1;

    AppContext app;
    if (!app_context_init(app, scratch.path().toStdString()).empty()) return 1;
    const SamplePaths paths{"/home/user/Videos/loop.mp4", "/home/user/Pictures/logo.png",
                            "/home/user/.local/share/Veltrona/recordings"};
    add_picture_samples(app, paths);
    bool ok = true;
    {
        MainWindowOptions options;
        options.start_probe = false;
        options.refresh_timer = false;
        MainWindow window(app, options);
        window.show();
        window.select_row(0);
        ok = save(window, folder, "main-window") && ok;
    }
    for (int type = 1; type <= 4; ++type) {
        const auto workflow_type = static_cast<WorkflowType>(type);
        WorkflowEditor editor(nullptr, add_editor_sample(app, workflow_type, paths));
        ok = save(editor, folder, editor_picture_name(workflow_type)) && ok;
    }
    app.workflows.clear();
    scratch.removeRecursively();
    return ok ? 0 : 1;
}
