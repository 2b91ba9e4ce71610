// Pictures of the desktop shell for the documentation and for review: the
// main window with four sample workflows and the editor for each type,
// drawn offscreen into a temporary data folder and saved as PNG files in
// the folder given on the command line. Run by scripts/screenshots.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <algorithm>
#include <cstdio>

#include "app/app_context.h"
#include "platform/time/clock.h"
#include "run/engine_status.h"
#include "ui/editor.h"
#include "ui/main_window.h"
#include "ui/style.h"

namespace {

struct Sample {
    const char* name;
    WorkflowType type;
    SourceType source_type;
    WorkflowState state;
    const char* operation;
    uint64_t seconds;
};

bool save(QWidget& widget, const QString& folder, const char* name) {
    widget.show();
    const QString path = folder + QLatin1Char('/') + QString::fromUtf8(name) + QStringLiteral(".png");
    if (widget.grab().save(path)) return true;
    std::fprintf(stderr, "cannot write %s\n", path.toUtf8().constData());
    return false;
}

Workflow& add_sample(AppContext& app, const Sample& sample) {
    app.workflows.emplace_back(workflow_create(app));
    Workflow& workflow = *app.workflows.back();
    WorkflowSettings s = workflow_settings_copy(workflow);
    s.name = sample.name;
    s.type = sample.type;
    s.source_type = sample.source_type;
    s.source =
        sample.type == WorkflowType::mp4_loop ? "/home/user/Videos/loop.mp4" : "https://www.youtube.com/watch?v=abc123";
    s.output_url = "rtmps://live.example.com:443/app/secret-stream-key";
    s.image_enabled = true;
    s.image_path = "/home/user/Pictures/logo.png";
    s.text_enabled = true;
    s.text = "Live from the main stage";
    s.text_color = 0x00D7FF;
    workflow_settings_replace(workflow, s);
    workflow_set_status(workflow, sample.state, sample.operation);
    // A young monotonic clock (a fresh machine) cannot go back that far.
    const uint64_t now = tick_ms();
    const uint64_t seconds = std::min<uint64_t>(sample.seconds, now / 1000 > 1 ? now / 1000 - 1 : 0);
    if (seconds != 0) workflow.start_tick.store(now - seconds * 1000);
    return workflow;
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
    const Sample samples[] = {
        {"Main stage restream", WorkflowType::direct_restream, SourceType::youtube, WorkflowState::streaming,
         "Streaming", 25 * 60 + 7},
        {"Night show archive", WorkflowType::record_then_push, SourceType::youtube, WorkflowState::recording,
         "Recording live stream", 12 * 60 + 48},
        {"Sponsor loop", WorkflowType::mp4_loop, SourceType::direct, WorkflowState::error, "Retrying in 3 seconds", 95},
        {"Overlay backup", WorkflowType::overlay_stream, SourceType::direct, WorkflowState::stopped, "Stopped", 0},
    };
    for (const Sample& sample : samples) add_sample(app, sample);
    workflow_set_last_error(*app.workflows[2], "RTMP connect failed: connection refused");

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
    const char* names[] = {"editor-overlay", "editor-record-push", "editor-direct", "editor-mp4-loop"};
    for (int type = 1; type <= 4; ++type) {
        Sample sample = samples[0];
        sample.name = "Evening show";
        sample.type = static_cast<WorkflowType>(type);
        sample.source_type = SourceType::youtube;
        WorkflowEditor editor(nullptr, add_sample(app, sample));
        ok = save(editor, folder, names[type - 1]) && ok;
    }
    app.workflows.clear();
    scratch.removeRecursively();
    return ok ? 0 : 1;
}
