// The main window's layout (pixel positions in its client area, kept on
// resize), its list refresh, its commands and its close sequence.
//
// The list mirrors the workflow table row by row: a refresh only trims
// surplus rows at the end and rewrites cells, so the selection stays on its
// row index as the table changes. Workflow states are read as plain atomic
// loads; the two status texts are copied under the workflow's lock.
//
// Other programs (veltrona-cli) may change config.tsv while the window is
// open. Each add, edit and delete is saved as one change applied by id to
// the file as it is at that moment (config_update), so their changes stay;
// and the one-second refresh reloads the list when the file changed, except
// while a dialog may hold one of the records.
#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTreeView>
#include <thread>

#include "app/version.h"
#include "platform/clock.h"
#include "platform/file_lock.h"
#include "platform/text.h"
#include "run/run_control.h"
#include "run/tools.h"
#include "ui/dialogs.h"
#include "ui/logo.h"
#include "ui/style.h"
#include "ui/workflow_list_model.h"
#include "workflow/check_messages.h"
#include "workflow/config.h"
#include "workflow/validate.h"

namespace {

constexpr int MARGIN = 12, LIST_Y = 88, LIST_HEIGHT = 252, DETAILS_Y = 412, DETAILS_BOTTOM_GAP = 424;
constexpr int BUTTON_Y = 352, LOGO_WIDTH = 220, LOGO_HEIGHT = 50, LOGO_Y = 15, LOGO_RIGHT_GAP = 232;
constexpr int REFRESH_MS = 1000;

struct ButtonPlace {
    ThemedButton* MainButtons::*slot;
    void (MainWindow::*command)();
    const char* text;
    int x;
    int width;
    bool primary;
};
constexpr ButtonPlace BUTTONS[] = {{&MainButtons::add, &MainWindow::add_workflow, "Add", 12, 88, false},
                                   {&MainButtons::edit, &MainWindow::edit_workflow_selected, "Edit", 108, 88, false},
                                   {&MainButtons::remove, &MainWindow::delete_workflow, "Delete", 204, 88, false},
                                   {&MainButtons::start, &MainWindow::start_workflow, "Start", 320, 96, true},
                                   {&MainButtons::stop, &MainWindow::stop_workflow, "Stop", 424, 96, false},
                                   {&MainButtons::restart, &MainWindow::restart_workflow, "Restart", 528, 96, false}};

const QString WINDOW_TITLE = QStringLiteral("Veltrona");

bool is_player_key(const QKeyEvent* event) {
    return event->key() == Qt::Key_V && (event->modifiers() & Qt::ControlModifier);
}

QString header_style() {
    return QStringLiteral(
               "QHeaderView::section { background: %1; color: %2; border: none; "
               "border-right: 1px solid %3; border-bottom: 1px solid %3; padding: 4px 6px; }"
               "QHeaderView { background: %1; }"
               "QTreeView { background: %4; color: %2; border: 1px solid %3; outline: none; }")
        .arg(ui_colour_css(UiColour::normal_button), ui_colour_css(UiColour::text), ui_colour_css(UiColour::outline),
             ui_colour_css(UiColour::list_background));
}

}  // namespace

QString format_runtime(uint64_t start_tick, uint64_t now_tick) {
    const uint64_t seconds = (start_tick != 0 && now_tick > start_tick) ? (now_tick - start_tick) / 1000 : 0;
    return QString::asprintf("%02llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                             static_cast<unsigned long long>((seconds / 60) % 60),
                             static_cast<unsigned long long>(seconds % 60));
}

bool workflow_is_idle(uint32_t state) {
    return state == static_cast<uint32_t>(WorkflowState::stopped) ||
           state == static_cast<uint32_t>(WorkflowState::completed) ||
           state == static_cast<uint32_t>(WorkflowState::error);
}

QString workflow_details_text(Workflow& workflow) {
    const std::string operation = workflow_current_operation(workflow);
    const std::string error = workflow_last_error(workflow);
    const std::string output = utf16_fit(mask_stream_key(workflow.settings.output_url), URL_CAPACITY);
    return QStringLiteral("Current operation: %1\nSource: %2\nOutput: %3\nPID: %4\nStatus: %5\nLast error: %6")
        .arg(QString::fromStdString(operation), QString::fromStdString(workflow.settings.source),
             QString::fromStdString(output), QString::number(workflow.process_id),
             QString::fromUtf8(workflow_state_name(workflow.state.load())), QString::fromStdString(error));
}

// ---- row painting ----

void WorkflowRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QVariant state_value = index.sibling(index.row(), 0).data(STATE_ROLE);
    const uint32_t state = state_value.toUInt();
    const RowLook look = row_look(state_value.isValid() ? &state : nullptr, option.state & QStyle::State_Selected);
    painter->save();
    painter->fillRect(option.rect, ui_colour(look.background));
    painter->setPen(ui_colour(look.text));
    painter->setFont(option.font);
    const QRect text_rect = option.rect.adjusted(6, 0, -6, 0);
    const QString text =
        option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, text_rect.width());
    painter->drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

QSize WorkflowRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return {QStyledItemDelegate::sizeHint(option, index).width(), LIST_ROW_HEIGHT};
}

// ---- window ----

MainWindow::MainWindow(AppContext& app, MainWindowOptions options) : app_(app), options_(options) {
    setWindowTitle(WINDOW_TITLE);
    setWindowIcon(program_icon());
    apply_window_colours(this, UiColour::window_background);
    resize(MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT);
    setMinimumSize(MAIN_WINDOW_MIN_WIDTH, MAIN_WINDOW_MIN_HEIGHT);
    build_header();
    build_list();
    build_buttons();
    build_details();
    place_controls();
    refresh_list();
    refresh_details();
    run_set_notifier(app_, &MainWindow::notify, this);
    config_watch_start(watch_, app_.config_path);
    connect(&timer_, &QTimer::timeout, this, [this] {
        reload_if_changed();
        refresh_list();
        refresh_details();
    });
    if (options_.refresh_timer) timer_.start(REFRESH_MS);
    if (options_.start_probe) {
        // The context outlives the process's windows (it is never freed), so
        // the detached probe can always finish writing its result.
        AppContext* context = &app_;
        std::thread([context] { ytdlp_probe_thread(*context); }).detach();
    }
}

MainWindow::~MainWindow() {
    timer_.stop();
    run_set_notifier(app_, nullptr, nullptr);
}

void MainWindow::build_header() {
    title_ = new QLabel(WINDOW_TITLE, this);
    title_->setFont(ui_font(UiFont::title));
    title_->setGeometry(MARGIN, 16, 180, 30);

    logo_ = new QLabel(this);
    logo_->setPixmap(logo_pixmap());
    // The window has no menu to hold an about box: the logo says it.
    logo_->setToolTip(QStringLiteral("Veltrona %1\n%2")
                          .arg(QString::fromUtf8(VELTRONA_VERSION), QString::fromUtf8(VELTRONA_LICENCE_NOTE)));
    logo_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    apply_window_colours(logo_, UiColour::window_background);
}

void MainWindow::build_list() {
    model_ = new WorkflowListModel(app_, this);
    list_ = new QTreeView(this);
    list_->setModel(model_);
    for (int i = 0; i < model_->columnCount(); ++i)
        list_->header()->resizeSection(i, WorkflowListModel::column_width(i));
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionsMovable(false);
    list_->header()->setFont(ui_font(UiFont::body));
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setItemDelegate(new WorkflowRowDelegate(list_));
    list_->setFont(ui_font(UiFont::body));
    list_->setStyleSheet(header_style());
    list_->installEventFilter(this);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { refresh_details(); });
    connect(list_, &QTreeView::doubleClicked, this, [this] { edit_workflow_selected(); });
}

void MainWindow::build_buttons() {
    QWidget* previous = list_;
    for (const ButtonPlace& place : BUTTONS) {
        ThemedButton* button =
            create_themed_button(this, QString::fromUtf8(place.text), place.x, BUTTON_Y, place.width, place.primary);
        buttons_.*place.slot = button;
        connect(button, &QPushButton::clicked, this, place.command);
        setTabOrder(previous, button);
        previous = button;
    }
}

void MainWindow::build_details() {
    details_ = new QPlainTextEdit(this);
    details_->setReadOnly(true);
    details_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    details_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    details_->setPlainText(QString::fromUtf8(NO_SELECTION_TEXT));
    flatten_control(details_);
    details_->installEventFilter(this);
    details_->setToolTip(QStringLiteral("Ctrl+V opens the selected workflow's output in VLC"));
    setTabOrder(buttons_.restart, details_);
}

void MainWindow::place_controls() {
    const int width = this->width();
    const int height = this->height();
    list_->setGeometry(MARGIN, LIST_Y, width - 2 * MARGIN, LIST_HEIGHT);
    details_->setGeometry(MARGIN, DETAILS_Y, width - 2 * MARGIN, height - DETAILS_BOTTOM_GAP);
    logo_->setGeometry(width - LOGO_RIGHT_GAP, LOGO_Y, LOGO_WIDTH, LOGO_HEIGHT);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place_controls();
}

// ---- refresh ----

void MainWindow::refresh_list() {
    model_->refresh();
}

Workflow* MainWindow::selected_workflow() const {
    const QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.isEmpty()) return nullptr;
    const int row = selected.first().row();
    if (row < 0 || static_cast<size_t>(row) >= app_.workflows.size()) return nullptr;
    return app_.workflows[static_cast<size_t>(row)].get();
}

void MainWindow::select_row(int row) {
    if (row >= 0 && row < model_->rowCount()) list_->setCurrentIndex(model_->index(row, 0));
}

void MainWindow::refresh_details() {
    Workflow* workflow = selected_workflow();
    const QString text = workflow ? workflow_details_text(*workflow) : QString::fromUtf8(NO_SELECTION_TEXT);
    // Rewriting an unchanged text would reset the user's scroll position every second.
    if (details_->toPlainText() != text) details_->setPlainText(text);
}

void MainWindow::notify(void* context, uint32_t workflow_id) {
    auto* window = static_cast<MainWindow*>(context);
    QMetaObject::invokeMethod(
        window, [window, workflow_id] { window->on_workflow_updated(workflow_id); }, Qt::QueuedConnection);
}

void MainWindow::on_workflow_updated(uint32_t id) {
    ++notices_handled_;
    if (id == TOOL_PROBE_DONE) return;
    refresh_list();
    refresh_details();
}

// ---- commands ----

void MainWindow::reload_if_changed() {
    if (QApplication::activeModalWidget() != nullptr || !config_watch_changed(watch_)) return;
    std::string ignored;  // an unreadable file keeps the list as shown; the next save says why
    (void)config_reload(app_, &ignored);
}

bool MainWindow::save_change(const std::function<bool(WorkflowList& saved)>& change) {
    std::string error;
    if (config_update(app_, change, &error)) return true;
    if (!error.empty()) show_message(this, MessageIcon::error, WINDOW_TITLE, QString::fromStdString(error));
    return false;
}

int MainWindow::row_of(uint32_t id) const {
    for (size_t row = 0; row < app_.workflows.size(); ++row) {
        if (app_.workflows[row]->id == id) return static_cast<int>(row);
    }
    return -1;
}

void MainWindow::add_workflow() {
    if (app_.workflows.size() >= MAX_WORKFLOWS) return;
    WorkflowPtr draft(workflow_create(app_));
    if (!draft) return;
    uint32_t id = 0;
    if (options_.edit(this, *draft) == EditorResult::save) {
        // The saved record takes the next id of the file, not the draft's.
        const WorkflowSettings settings = workflow_settings_copy(*draft);
        (void)save_change([&](WorkflowList& saved) {
            if (saved.workflows.size() >= MAX_WORKFLOWS) return false;
            Workflow* added = saved.workflows.emplace_back(workflow_create(saved)).get();
            workflow_settings_replace(*added, settings);
            id = added->id;
            return true;
        });
    }
    draft.reset();
    refresh_list();
    if (id != 0) select_row(row_of(id));
    refresh_details();
}

void MainWindow::edit_workflow_selected() {
    Workflow* workflow = selected_workflow();
    if (workflow == nullptr) return;
    if (options_.edit(this, *workflow) == EditorResult::save) {
        workflow->revision.fetch_add(1);
        const uint32_t id = workflow->id;
        const WorkflowSettings settings = workflow_settings_copy(*workflow);
        bool gone = false;
        (void)save_change([&](WorkflowList& saved) {
            Workflow* held = app_find_workflow(saved, id);
            gone = held == nullptr;
            if (held) workflow_settings_replace(*held, settings);
            return !gone;
        });
        // Another program's delete stands; the next reload takes the row away.
        if (gone)
            show_message(this, MessageIcon::warning, WINDOW_TITLE,
                         QStringLiteral("Another program deleted this workflow; the changes were not saved."));
    }
    refresh_list();
    refresh_details();
}

void MainWindow::delete_workflow() {
    Workflow* workflow = selected_workflow();
    if (workflow == nullptr) return;
    // A workflow a veltrona-cli run holds is as active as one of our own.
    if (!workflow_is_idle(workflow->state.load()) || file_lock_held(run_lock_path(app_, workflow->id))) {
        show_message(this, MessageIcon::warning, WINDOW_TITLE, QStringLiteral("Stop the workflow before deleting it."));
        return;
    }
    const uint32_t id = workflow->id;
    if (show_message(this, MessageIcon::question, WINDOW_TITLE, QStringLiteral("Delete the selected workflow?")) !=
        MessageAnswer::yes)
        return;
    // Saving drops the record from the table too (destroying it stops it first).
    (void)save_change([id](WorkflowList& saved) {
        std::erase_if(saved.workflows, [id](const WorkflowPtr& held) { return held->id == id; });
        return true;
    });
    refresh_list();
    refresh_details();
}

void MainWindow::start_workflow() {
    Workflow* workflow = selected_workflow();
    if (workflow == nullptr) return;
    const bool started = workflow_start(*workflow);
    refresh_list();
    refresh_details();
    if (!started)
        show_message(this, MessageIcon::error, QStringLiteral("Cannot start"),
                     QString::fromStdString(workflow_last_error(*workflow)));
}

void MainWindow::stop_workflow() {
    Workflow* workflow = selected_workflow();
    if (workflow == nullptr) return;
    workflow_stop(workflow);
    refresh_list();
    refresh_details();
}

void MainWindow::restart_workflow() {
    Workflow* workflow = selected_workflow();
    if (workflow == nullptr) return;
    workflow_restart(*workflow);
    refresh_list();
    refresh_details();
}

void MainWindow::open_output_in_player() {
    Workflow* workflow = selected_workflow();
    if (workflow == nullptr) return;
    // config.tsv may have been edited by hand: only an ingest URL goes to the
    // player, and after "--", so no text can ever reach it as an option.
    const std::string& output = workflow->settings.output_url;
    if (!url_check(output, false, true)) {
        show_message(this, MessageIcon::warning, WINDOW_TITLE, QString::fromUtf8(check_message::output_invalid));
        return;
    }
    const QString player = QStandardPaths::findExecutable(QStringLiteral("vlc"));
    if (player.isEmpty()) {
        show_message(this, MessageIcon::information, WINDOW_TITLE,
                     QStringLiteral("VLC is not installed in its standard location."));
        return;
    }
    if (!ui_hooks().launch(player, {QStringLiteral("--"), QString::fromStdString(output)}))
        show_message(this, MessageIcon::warning, WINDOW_TITLE,
                     QStringLiteral("VLC could not open the selected output URL."));
}

// ---- keys and closing ----

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (is_player_key(event)) {
        open_output_in_player();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The list and the read-only details box would swallow Ctrl+V.
    if (event->type() == QEvent::KeyPress && is_player_key(static_cast<QKeyEvent*>(event))) {
        open_output_in_player();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool MainWindow::confirm_close() {
    // Asked once per active workflow, not once in all: users of the earlier
    // program know this dialog sequence, and any No keeps everything running.
    for (const WorkflowPtr& workflow : app_.workflows) {
        if (workflow_is_idle(workflow->state.load())) continue;
        if (show_message(this, MessageIcon::question, WINDOW_TITLE,
                         QStringLiteral("Active workflows will be stopped. Exit?")) != MessageAnswer::yes)
            return false;
    }
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!shut_down_ && !confirm_close()) {
        event->ignore();
        return;
    }
    shut_down();
    event->accept();
}

void MainWindow::shut_down() {
    if (shut_down_) return;
    shut_down_ = true;
    timer_.stop();
    run_set_notifier(app_, nullptr, nullptr);
    // Nothing is left to save: every change was saved when it was made, and
    // saving the table again could only undo what another program saved since.
    for (const WorkflowPtr& workflow : app_.workflows) workflow_stop(workflow.get());
}

// ---- start-up ----

int ui_run(AppContext& app, const std::string& startup_problem) {
    style_init();
    QApplication::setWindowIcon(program_icon());
    CentringHook hook;
    qApp->installEventFilter(&hook);
    int code = 0;
    {
        MainWindow window(app);
        window.show();
        window.raise();
        window.activateWindow();
        if (!startup_problem.empty())
            show_message(&window, MessageIcon::error, WINDOW_TITLE, QString::fromStdString(startup_problem));
        code = QApplication::exec();
        window.shut_down();  // the loop can also end without a close (session end)
    }
    qApp->removeEventFilter(&hook);
    return code;
}
