// The main window's Qt wiring: its controls at the pixel positions of the
// shared layout (kept on resize), its list refresh, its commands and its
// close sequence. What it shows and decides is the presentation layer's.
//
// The list mirrors the workflow table row by row: a refresh only trims
// surplus rows at the end and rewrites cells, so the selection stays on its
// row index as the table changes.
#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTreeView>
#include <thread>

#include "platform/time/clock.h"
#include "run/run_control.h"
#include "run/tools.h"
#include "ui/dialogs.h"
#include "ui/logo.h"
#include "ui/style.h"
#include "ui/workflow_list_model.h"

namespace {

namespace geo = main_geometry;

// Each command's button slot and handler.
struct ButtonWiring {
    MainCommand command;
    ThemedButton* MainButtons::*slot;
    void (MainWindow::*handler)();
};
constexpr ButtonWiring WIRING[] = {{MainCommand::add, &MainButtons::add, &MainWindow::add_workflow},
                                   {MainCommand::edit, &MainButtons::edit, &MainWindow::edit_workflow_selected},
                                   {MainCommand::remove, &MainButtons::remove, &MainWindow::delete_workflow},
                                   {MainCommand::start, &MainButtons::start, &MainWindow::start_workflow},
                                   {MainCommand::stop, &MainButtons::stop, &MainWindow::stop_workflow},
                                   {MainCommand::restart, &MainButtons::restart, &MainWindow::restart_workflow}};

const QString WINDOW_TITLE = QString::fromUtf8(main_text::title);

QString text_of(const char* text) {
    return QString::fromUtf8(text);
}

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
    return {QStyledItemDelegate::sizeHint(option, index).width(), geo::row_height};
}

// ---- window ----

MainWindow::MainWindow(AppContext& app, MainWindowOptions options) : app_(app), options_(options) {
    setWindowTitle(WINDOW_TITLE);
    setWindowIcon(program_icon());
    apply_window_colours(this, UiColour::window_background);
    resize(geo::width, geo::height);
    setMinimumSize(geo::min_width, geo::min_height);
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
    if (options_.refresh_timer) timer_.start(geo::refresh_ms);
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
    title_->setGeometry(geo::title_x, geo::title_y, geo::title_width, geo::title_height);

    logo_ = new QLabel(this);
    logo_->setPixmap(logo_pixmap());
    logo_->setToolTip(QString::fromStdString(about_text()));
    logo_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    apply_window_colours(logo_, UiColour::window_background);
}

void MainWindow::build_list() {
    model_ = new WorkflowListModel(app_, this);
    list_ = new QTreeView(this);
    list_->setModel(model_);
    for (int i = 0; i < model_->columnCount(); ++i)
        list_->header()->resizeSection(i, list_columns()[static_cast<size_t>(i)].width);
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
    for (const MainButton& place : main_buttons()) {
        ThemedButton* button =
            create_themed_button(this, text_of(place.text), place.x, geo::buttons_y, place.width, place.primary);
        const ButtonWiring& wiring = WIRING[static_cast<size_t>(place.command)];
        buttons_.*wiring.slot = button;
        connect(button, &QPushButton::clicked, this, wiring.handler);
        setTabOrder(previous, button);
        previous = button;
    }
}

void MainWindow::build_details() {
    details_ = new QPlainTextEdit(this);
    details_->setReadOnly(true);
    details_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    details_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    details_->setPlainText(text_of(main_text::no_selection));
    flatten_control(details_);
    details_->installEventFilter(this);
    details_->setToolTip(QStringLiteral("Ctrl+V opens the selected workflow's output in VLC"));
    setTabOrder(buttons_.restart, details_);
}

void MainWindow::place_controls() {
    const int width = this->width();
    const int height = this->height();
    list_->setGeometry(geo::margin, geo::list_y, width - 2 * geo::margin, geo::list_height);
    details_->setGeometry(geo::margin, geo::details_y, width - 2 * geo::margin, height - geo::details_bottom_gap);
    logo_->setGeometry(width - geo::logo_right_gap, geo::logo_y, geo::logo_width, geo::logo_height);
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
    const QString text =
        QString::fromStdString(workflow ? workflow_details_text(*workflow, tick_ms()) : main_text::no_selection);
    // Rewriting an unchanged text would reset the user's scroll position every
    // second; a running workflow's figures change every second, so the
    // position is put back after the rewrite.
    if (details_->toPlainText() == text) return;
    const int scrolled = details_->verticalScrollBar()->value();
    details_->setPlainText(text);
    details_->verticalScrollBar()->setValue(scrolled);
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
    if (QApplication::activeModalWidget() == nullptr) view_reload_if_changed(app_, watch_);
}

void MainWindow::show_save_error(const std::string& error) {
    if (!error.empty()) show_message(this, MessageIcon::error, WINDOW_TITLE, QString::fromStdString(error));
}

void MainWindow::add_workflow() {
    if (app_.workflows.size() >= MAX_WORKFLOWS) return;
    WorkflowPtr draft(workflow_create(app_));
    if (!draft) return;
    uint32_t id = 0;
    if (options_.edit(this, *draft) == EditorResult::save) {
        std::string error;
        id = view_add_workflow(app_, workflow_settings_copy(*draft), &error);
        show_save_error(error);
    }
    draft.reset();
    refresh_list();
    if (id != 0) select_row(view_row_of(app_, id));
    refresh_details();
}

void MainWindow::edit_workflow_selected() {
    Workflow* workflow = selected_workflow();
    if (workflow == nullptr) return;
    if (options_.edit(this, *workflow) == EditorResult::save) {
        std::string error;
        const EditSaved saved = view_save_edit(app_, *workflow, &error);
        show_save_error(error);
        if (saved == EditSaved::deleted_elsewhere)
            show_message(this, MessageIcon::warning, WINDOW_TITLE, text_of(main_text::edited_but_deleted));
    }
    refresh_list();
    refresh_details();
}

void MainWindow::delete_workflow() {
    Workflow* workflow = selected_workflow();
    if (workflow == nullptr) return;
    if (delete_refused(app_, *workflow)) {
        show_message(this, MessageIcon::warning, WINDOW_TITLE, text_of(main_text::stop_before_delete));
        return;
    }
    const uint32_t id = workflow->id;
    if (show_message(this, MessageIcon::question, WINDOW_TITLE, text_of(main_text::confirm_delete)) !=
        MessageAnswer::yes)
        return;
    std::string error;
    (void)view_delete_workflow(app_, id, &error);
    show_save_error(error);
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
        show_message(this, MessageIcon::error, text_of(main_text::cannot_start_title),
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
    std::string refusal;
    const std::string output = player_url(*workflow, &refusal);
    if (output.empty()) {
        show_message(this, MessageIcon::warning, WINDOW_TITLE, QString::fromStdString(refusal));
        return;
    }
    const QString player = QStandardPaths::findExecutable(QStringLiteral("vlc"));
    if (player.isEmpty()) {
        show_message(this, MessageIcon::information, WINDOW_TITLE, text_of(main_text::player_missing));
        return;
    }
    // After "--", so no text can ever reach the player as an option.
    if (!ui_hooks().launch(player, {QStringLiteral("--"), QString::fromStdString(output)}))
        show_message(this, MessageIcon::warning, WINDOW_TITLE, text_of(main_text::player_failed));
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
    for (size_t asked = close_questions(app_); asked > 0; --asked) {
        if (show_message(this, MessageIcon::question, WINDOW_TITLE, text_of(main_text::confirm_close)) !=
            MessageAnswer::yes)
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
