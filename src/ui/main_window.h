// The main window: the workflow list with live states and run times, the
// details of the selected workflow, and the commands that add, edit,
// delete, start, stop and restart workflows.
//
// It lives on the UI thread, which alone changes the workflow table. Runner
// and probe threads reach it only through the context's notifier, which
// queues a refresh onto this thread; the notifier is cleared before the
// window goes away, so no runner ever calls into a closed window. The list
// also refreshes itself every second.
#pragma once

#include <QString>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWidget>
#include <string>

#include "app/app_context.h"
#include "app/config_watch.h"
#include "ui/editor.h"
#include "ui/presentation/main_view.h"

class QLabel;
class QPlainTextEdit;
class QTreeView;
class WorkflowListModel;
class ThemedButton;

// The command buttons, left to right.
struct MainButtons {
    ThemedButton* add = nullptr;
    ThemedButton* edit = nullptr;
    ThemedButton* remove = nullptr;
    ThemedButton* start = nullptr;
    ThemedButton* stop = nullptr;
    ThemedButton* restart = nullptr;
};

struct MainWindowOptions {
    bool start_probe = true;    // the background yt-dlp probe
    bool refresh_timer = true;  // the one-second refresh
    // Opens the editor on a workflow; the real modal editor unless a test
    // answers for the user.
    EditorResult (*edit)(QWidget* owner, Workflow& workflow) = edit_workflow;
};

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    explicit MainWindow(AppContext& app, MainWindowOptions options = {});
    ~MainWindow() override;

    void refresh_list();
    void refresh_details();
    // The selected row's workflow, or null.
    [[nodiscard]] Workflow* selected_workflow() const;
    void select_row(int row);

    void add_workflow();
    void edit_workflow_selected();
    void delete_workflow();
    void start_workflow();
    void stop_workflow();
    void restart_workflow();
    void open_output_in_player();
    // Stops the timer and the notices and stops every workflow in list order;
    // done once, by an accepted close or at the loop's end.
    void shut_down();

    [[nodiscard]] const MainButtons& buttons() const { return buttons_; }
    [[nodiscard]] QTreeView* list() const { return list_; }
    [[nodiscard]] QPlainTextEdit* details() const { return details_; }
    [[nodiscard]] int notices_handled() const { return notices_handled_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build_header();
    void build_list();
    void build_buttons();
    void build_details();
    void place_controls();
    void on_workflow_updated(uint32_t id);
    // Takes in what another program saved, when config.tsv changed.
    void reload_if_changed();
    // Shows why a save failed, if it says.
    void show_save_error(const std::string& error);
    [[nodiscard]] bool confirm_close();
    static void notify(void* context, uint32_t workflow_id);

    AppContext& app_;
    MainWindowOptions options_;
    WorkflowListModel* model_ = nullptr;
    QTreeView* list_ = nullptr;
    QPlainTextEdit* details_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* logo_ = nullptr;
    MainButtons buttons_;
    QTimer timer_;
    ConfigWatch watch_;
    int notices_handled_ = 0;
    bool shut_down_ = false;
};

// Paints the list rows: accent when selected, otherwise the list background
// with the text coloured by the workflow's state; rows are 44 pixels high.
class WorkflowRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Start-up of the desktop shell after the core start-up: style, centring,
// the main window (showing what start-up could not do, if anything) and the
// event loop. Returns the loop's exit code.
int ui_run(AppContext& app, const std::string& startup_problem = "");
