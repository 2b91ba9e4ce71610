// The main window: layout, list cells and colours, details, every command
// with its messages, live updates posted from other threads, closing, and
// the player shortcut.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>
#include <thread>

#include "fake_dialogs.h"
#include "platform/clock.h"
#include "run/engine_status.h"
#include "run/run_control.h"
#include "support/app_fixture.h"
#include "ui/style.h"

namespace {

// What the fake editor does when the window opens it.
struct FakeEditor {
    int calls = 0;
    EditorResult answer = EditorResult::save;
    std::string name = "Added";
};
FakeEditor fake_editor;

EditorResult fake_edit(QWidget*, Workflow& workflow) {
    ++fake_editor.calls;
    if (fake_editor.answer == EditorResult::save) {
        WorkflowSettings settings = workflow_settings_copy(workflow);
        settings.name = fake_editor.name;
        workflow_settings_replace(workflow, settings);
    }
    return fake_editor.answer;
}

class MainWindowTest : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        dialogs_ = &install_fake_dialogs();
        fake_editor = FakeEditor{};
    }
    void TearDown() override {
        window_.reset();
        ui_hooks_reset();
        AppFixture::TearDown();
    }

    MainWindow& open_window() {
        MainWindowOptions options;
        options.start_probe = false;
        options.refresh_timer = false;
        options.edit = fake_edit;
        window_ = std::make_unique<MainWindow>(app_, options);
        return *window_;
    }

    Workflow& named(const std::string& name, int32_t type = 3, int32_t source_type = 2) {
        return add_workflow([&](WorkflowSettings& s) {
            s.name = name;
            s.type = type;
            s.source_type = source_type;
        });
    }

    QString cell(int row, int column) { return window_->list()->topLevelItem(row)->text(column); }
    QPushButton* button(int id) { return static_cast<QPushButton*>(window_->control(id)); }
    static void set_state(Workflow& workflow, WorkflowState state) {
        workflow.state.store(static_cast<uint32_t>(state));
    }

    FakeDialogs* dialogs_ = nullptr;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, LayoutFollowsTheClientArea) {
    MainWindow& window = open_window();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Veltrona"));
    EXPECT_EQ(window.size(), QSize(900, 680));
    EXPECT_EQ(window.minimumSize(), QSize(760, 620));
    EXPECT_EQ(window.list()->geometry(), QRect(12, 88, 876, 252));
    EXPECT_EQ(window.details()->geometry(), QRect(12, 412, 876, 256));
    EXPECT_EQ(window.control(main_id::logo)->geometry(), QRect(668, 15, 220, 50));
    EXPECT_FALSE(static_cast<QLabel*>(window.control(main_id::logo))->pixmap().isNull());

    struct Expected {
        int id;
        const char* text;
        QRect rect;
        bool primary;
    };
    for (const Expected& b : {Expected{main_id::add, "Add", {12, 352, 88, 48}, false},
                              Expected{main_id::edit, "Edit", {108, 352, 88, 48}, false},
                              Expected{main_id::remove, "Delete", {204, 352, 88, 48}, false},
                              Expected{main_id::start, "Start", {320, 352, 96, 48}, true},
                              Expected{main_id::stop, "Stop", {424, 352, 96, 48}, false},
                              Expected{main_id::restart, "Restart", {528, 352, 96, 48}, false}}) {
        SCOPED_TRACE(b.text);
        auto* themed = static_cast<ThemedButton*>(window.control(b.id));
        EXPECT_EQ(themed->text(), QString::fromUtf8(b.text));
        EXPECT_EQ(themed->geometry(), b.rect);
        EXPECT_EQ(themed->primary(), b.primary);
    }

    window.show();
    window.resize(1000, 700);
    EXPECT_EQ(window.list()->geometry(), QRect(12, 88, 976, 252));
    EXPECT_EQ(window.details()->geometry(), QRect(12, 412, 976, 276));
    EXPECT_EQ(window.control(main_id::logo)->geometry(), QRect(768, 15, 220, 50));
}

TEST_F(MainWindowTest, ListHasItsColumnsAndRowHeight) {
    named("One");
    MainWindow& window = open_window();
    QTreeWidget* list = window.list();
    const char* titles[] = {"Name", "Type", "Source", "Status", "Runtime"};
    const int widths[] = {240, 130, 100, 150, 110};
    ASSERT_EQ(list->columnCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list->headerItem()->text(i), QString::fromUtf8(titles[i]));
        EXPECT_EQ(list->header()->sectionSize(i), widths[i]);
    }
    window.show();
    EXPECT_EQ(list->visualItemRect(list->topLevelItem(0)).height(), LIST_ROW_HEIGHT);
}

TEST_F(MainWindowTest, RowsShowTypeSourceAndState) {
    struct Row {
        int32_t type, source_type;
        uint32_t state;
        const char *type_name, *source_name, *state_name;
    };
    const Row rows[] = {
        {1, 1, 8, "Overlay", "YouTube", "STREAMING"},
        {2, 1, 3, "Record/Push", "YouTube", "WAITING"},
        {3, 2, 4, "Direct", "Direct", "RECORDING"},
        {4, 1, 7, "MP4 Loop", "MP4 File", "PLAYING"},
        {4, 2, 11, "MP4 Loop", "MP4 File", "ERROR"},
        {0, 1, 0, "Direct", "YouTube", "STOPPED"},
        {5, 2, 12, "Direct", "Direct", "UNKNOWN"},
        {3, 1, 6, "Direct", "YouTube", "STARTING PLAYBACK"},
    };
    for (const Row& row : rows) named("W", row.type, row.source_type).state.store(row.state);
    MainWindow& window = open_window();
    ASSERT_EQ(window.list()->topLevelItemCount(), static_cast<int>(std::size(rows)));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cell(static_cast<int>(i), 0), QStringLiteral("W"));
        EXPECT_EQ(cell(static_cast<int>(i), 1), QString::fromUtf8(rows[i].type_name));
        EXPECT_EQ(cell(static_cast<int>(i), 2), QString::fromUtf8(rows[i].source_name));
        EXPECT_EQ(cell(static_cast<int>(i), 3), QString::fromUtf8(rows[i].state_name));
        EXPECT_EQ(cell(static_cast<int>(i), 4), QStringLiteral("00:00:00"));
    }
}

TEST_F(MainWindowTest, RowColoursFollowStateAndSelection) {
    struct Case {
        uint32_t state;
        bool selected;
        UiColour background, text;
    };
    const Case cases[] = {
        {11, false, UiColour::list_background, UiColour::state_error},
        {7, false, UiColour::list_background, UiColour::state_live},
        {8, false, UiColour::list_background, UiColour::state_live},
        {4, false, UiColour::list_background, UiColour::state_recording},
        {0, false, UiColour::list_background, UiColour::text},
        {3, false, UiColour::list_background, UiColour::text},
        {10, false, UiColour::list_background, UiColour::text},
        {11, true, UiColour::accent, UiColour::window_background},
    };
    for (const Case& c : cases) {
        const RowLook look = row_look(&c.state, c.selected);
        EXPECT_EQ(look.background, c.background) << c.state;
        EXPECT_EQ(look.text, c.text) << c.state;
    }
    EXPECT_EQ(row_look(nullptr, false).text, UiColour::text);

    // And on screen: a selected row is painted in the accent colour.
    named("A");
    named("B");
    MainWindow& window = open_window();
    window.show();
    window.select_row(1);
    const QImage picture = window.list()->viewport()->grab().toImage();
    const QRect second = window.list()->visualItemRect(window.list()->topLevelItem(1));
    const QRect first = window.list()->visualItemRect(window.list()->topLevelItem(0));
    EXPECT_EQ(picture.pixelColor(second.right() - 3, second.center().y()),
              ui_colour(UiColour::accent));
    EXPECT_EQ(picture.pixelColor(first.right() - 3, first.center().y()),
              ui_colour(UiColour::list_background));
}

TEST_F(MainWindowTest, RuntimeCountsHoursPastADay) {
    EXPECT_EQ(format_runtime(5000, 5000 + 100ull * 3600 * 1000), QStringLiteral("100:00:00"));
    EXPECT_EQ(format_runtime(1, 1 + 3723999), QStringLiteral("01:02:03"));
    EXPECT_EQ(format_runtime(0, 999999), QStringLiteral("00:00:00"));  // never started

    if (tick_ms() < 70000) GTEST_SKIP() << "the monotonic clock is too young";
    Workflow& workflow = named("Timed");
    workflow.start_tick.store(tick_ms() - 65000);
    open_window();
    EXPECT_EQ(cell(0, 4), QStringLiteral("00:01:05"));
}

TEST_F(MainWindowTest, DetailsShowTheSelectedWorkflowWithTheKeyMasked) {
    Workflow& workflow = add_workflow([](WorkflowSettings& s) {
        s.source = "https://cdn.example.com/live.m3u8";
        s.output_url = "rtmp://host/app/key";
    });
    workflow_set_status(workflow, WorkflowState::streaming, "Streaming");
    workflow_set_last_error(workflow, "connection failed");
    MainWindow& window = open_window();
    EXPECT_EQ(window.details()->toPlainText(), QStringLiteral("Select a workflow to see details."));
    window.select_row(0);
    EXPECT_EQ(
        window.details()->toPlainText(),
        QStringLiteral("Current operation: Streaming\nSource: https://cdn.example.com/live.m3u8\n"
                       "Output: rtmp://host/app/********\nPID: 0\nStatus: STREAMING\n"
                       "Last error: connection failed"));
    EXPECT_TRUE(window.details()->isReadOnly());
    window.list()->clearSelection();
    EXPECT_EQ(window.details()->toPlainText(), QStringLiteral("Select a workflow to see details."));
}

TEST_F(MainWindowTest, CommandsWithoutSelectionDoNothing) {
    set_state(named("Running"), WorkflowState::streaming);
    MainWindow& window = open_window();
    for (int id : {main_id::edit, main_id::start, main_id::stop, main_id::restart, main_id::remove})
        button(id)->click();
    window.open_output_in_player();
    EXPECT_TRUE(dialogs_->messages.empty());
    EXPECT_EQ(fake_editor.calls, 0);
    EXPECT_EQ(app_.workflows.size(), 1u);
    EXPECT_EQ(workflow_state(*app_.workflows[0]), WorkflowState::streaming);
    EXPECT_EQ(window.details()->toPlainText(), QStringLiteral("Select a workflow to see details."));
}

TEST_F(MainWindowTest, AddAppendsOnSaveAndDropsOnCancel) {
    named("First");
    MainWindow& window = open_window();
    button(main_id::add)->click();
    ASSERT_EQ(app_.workflows.size(), 2u);
    EXPECT_EQ(cell(1, 0), QStringLiteral("Added"));
    EXPECT_NE(read_file(app_.config_path).find("Added"), std::string::npos);
    EXPECT_EQ(window.selected_workflow(), app_.workflows[1].get());

    fake_editor.answer = EditorResult::cancel;
    const uint32_t next_id = app_.next_id;
    button(main_id::add)->click();
    EXPECT_EQ(app_.workflows.size(), 2u);
    EXPECT_EQ(window.list()->topLevelItemCount(), 2);
    EXPECT_EQ(app_.next_id, next_id + 1);  // the id of the dropped record is not reused
}

TEST_F(MainWindowTest, AddAtTheLimitDoesNothing) {
    for (size_t i = 0; i < MAX_WORKFLOWS; ++i) app_.workflows.emplace_back(workflow_create(app_));
    open_window();
    button(main_id::add)->click();
    EXPECT_EQ(fake_editor.calls, 0);
    EXPECT_EQ(app_.workflows.size(), MAX_WORKFLOWS);
}

TEST_F(MainWindowTest, SavedEditRaisesTheRevisionAndSaves) {
    Workflow& workflow = named("Before");
    MainWindow& window = open_window();
    window.select_row(0);
    fake_editor.name = "After";
    button(main_id::edit)->click();
    EXPECT_EQ(workflow.revision.load(), 1u);
    EXPECT_EQ(cell(0, 0), QStringLiteral("After"));
    EXPECT_NE(read_file(app_.config_path).find("After"), std::string::npos);

    fake_editor.answer = EditorResult::cancel;
    button(main_id::edit)->click();
    EXPECT_EQ(workflow.revision.load(), 1u);
}

TEST_F(MainWindowTest, DeletingAnActiveWorkflowIsRefused) {
    set_state(named("Running"), WorkflowState::reconnecting);
    MainWindow& window = open_window();
    window.select_row(0);
    button(main_id::remove)->click();
    ASSERT_EQ(dialogs_->messages.size(), 1u);
    EXPECT_EQ(dialogs_->messages[0].icon, MessageIcon::warning);
    EXPECT_EQ(dialogs_->messages[0].title, QStringLiteral("Veltrona"));
    EXPECT_EQ(dialogs_->messages[0].text, QStringLiteral("Stop the workflow before deleting it."));
    EXPECT_EQ(app_.workflows.size(), 1u);
    EXPECT_EQ(workflow_state(*app_.workflows[0]), WorkflowState::reconnecting);
}

TEST_F(MainWindowTest, DeleteAsksAndKeepsTheOrderOfTheRest) {
    named("A");
    set_state(named("B"), WorkflowState::completed);
    named("C");
    MainWindow& window = open_window();
    window.select_row(1);
    dialogs_->answers = {MessageAnswer::no};
    button(main_id::remove)->click();
    EXPECT_EQ(app_.workflows.size(), 3u);

    button(main_id::remove)->click();  // Yes this time
    ASSERT_EQ(dialogs_->messages.size(), 2u);
    EXPECT_EQ(dialogs_->messages[1].icon, MessageIcon::question);
    EXPECT_EQ(dialogs_->messages[1].text, QStringLiteral("Delete the selected workflow?"));
    ASSERT_EQ(app_.workflows.size(), 2u);
    EXPECT_EQ(app_.workflows[0]->settings.name, "A");
    EXPECT_EQ(app_.workflows[1]->settings.name, "C");
    EXPECT_EQ(window.list()->topLevelItemCount(), 2);
    EXPECT_EQ(cell(1, 0), QStringLiteral("C"));
    const std::string saved = read_file(app_.config_path);
    EXPECT_EQ(saved.find("\tB\t"), std::string::npos);
    EXPECT_NE(saved.find("\tC\t"), std::string::npos);
}

TEST_F(MainWindowTest, FailedStartShowsTheLastError) {
    add_workflow([](WorkflowSettings& s) { s.enabled = 0; });
    MainWindow& window = open_window();
    window.select_row(0);
    button(main_id::start)->click();
    ASSERT_EQ(dialogs_->messages.size(), 1u);
    EXPECT_EQ(dialogs_->messages[0].icon, MessageIcon::error);
    EXPECT_EQ(dialogs_->messages[0].title, QStringLiteral("Cannot start"));
    EXPECT_EQ(dialogs_->messages[0].text, QStringLiteral("This workflow is disabled."));
    EXPECT_EQ(cell(0, 3), QStringLiteral("ERROR"));
}

TEST_F(MainWindowTest, StartStopAndRestartDriveTheRunner) {
    named("Live");
    MainWindow& window = open_window();
    window.select_row(0);
    button(main_id::start)->click();
    EXPECT_TRUE(dialogs_->messages.empty());
    // The fake engine reports STREAMING from the runner thread; the notice
    // reaches the list through the event queue (the timer is off).
    EXPECT_TRUE(
        process_events_until([&] { return cell(0, 3) == QStringLiteral("STREAMING"); }, 3000));
    button(main_id::restart)->click();
    EXPECT_TRUE(
        process_events_until([&] { return cell(0, 3) == QStringLiteral("STREAMING"); }, 3000));
    button(main_id::stop)->click();
    EXPECT_EQ(cell(0, 3), QStringLiteral("STOPPED"));
    EXPECT_FALSE(workflow_runner_alive(*app_.workflows[0]));
}

TEST_F(MainWindowTest, StatusPostedFromAnotherThreadUpdatesTheRow) {
    Workflow& workflow = named("Remote");
    MainWindow& window = open_window();
    window.select_row(0);
    std::thread runner(
        [&] { workflow_set_status(workflow, WorkflowState::recording, "Recording"); });
    runner.join();
    EXPECT_EQ(cell(0, 3), QStringLiteral("STOPPED"));  // nothing touched the widgets yet
    EXPECT_TRUE(
        process_events_until([&] { return cell(0, 3) == QStringLiteral("RECORDING"); }, 2000));
    EXPECT_TRUE(window.details()->toPlainText().startsWith(
        QStringLiteral("Current operation: Recording\n")));
    EXPECT_GE(window.notices_handled(), 1);
}

TEST_F(MainWindowTest, ClosingAsksOncePerActiveWorkflowAndNoKeepsThemRunning) {
    Workflow& first = named("One");
    named("Idle");
    Workflow& second = named("Two");
    set_state(first, WorkflowState::streaming);
    set_state(second, WorkflowState::waiting);
    MainWindow& window = open_window();
    window.show();
    dialogs_->answers = {MessageAnswer::yes, MessageAnswer::no};
    EXPECT_FALSE(window.close());
    ASSERT_EQ(dialogs_->messages.size(), 2u);
    for (const RecordedMessage& message : dialogs_->messages) {
        EXPECT_EQ(message.icon, MessageIcon::question);
        EXPECT_EQ(message.text, QStringLiteral("Active workflows will be stopped. Exit?"));
    }
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(workflow_state(first), WorkflowState::streaming);
    EXPECT_EQ(workflow_state(second), WorkflowState::waiting);

    dialogs_->messages.clear();
    EXPECT_TRUE(window.close());  // Yes, Yes
    EXPECT_EQ(dialogs_->messages.size(), 2u);
    EXPECT_EQ(workflow_state(first), WorkflowState::stopped);
    EXPECT_EQ(workflow_state(second), WorkflowState::stopped);
    EXPECT_EQ(app_.workflows.size(), 3u);  // stopped, not freed
    EXPECT_NE(read_file(app_.config_path).find("Idle"), std::string::npos);
    EXPECT_EQ(app_.notifier, nullptr);
}

TEST_F(MainWindowTest, ClosingWithNothingActiveAsksNothing) {
    named("Idle");
    MainWindow& window = open_window();
    window.show();
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(dialogs_->messages.empty());
}

TEST_F(MainWindowTest, ControlVOpensTheUnmaskedOutputInThePlayer) {
    add_workflow([](WorkflowSettings& s) { s.output_url = "rtmp://host/app/key"; });
    TempDir bin;
    write_file(bin.file("vlc"), "#!/bin/sh\nexit 0\n", 0755);
    const QByteArray old_path = qgetenv("PATH");
    MainWindow& window = open_window();
    window.show();
    window.select_row(0);

    qputenv("PATH", QByteArray::fromStdString(bin.path()));
    QTest::keyClick(window.list(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(dialogs_->launches.size(), 1u);
    EXPECT_EQ(dialogs_->launches[0].first, QString::fromStdString(bin.file("vlc")));
    EXPECT_EQ(dialogs_->launches[0].second, QStringLiteral("rtmp://host/app/key"));
    EXPECT_TRUE(dialogs_->messages.empty());

    dialogs_->launch_result = false;
    QTest::keyClick(window.details(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(dialogs_->messages.size(), 1u);
    EXPECT_EQ(dialogs_->messages[0].icon, MessageIcon::warning);
    EXPECT_EQ(dialogs_->messages[0].text,
              QStringLiteral("VLC could not open the selected output URL."));

    qputenv("PATH", QByteArray::fromStdString(dir_.path()));
    QTest::keyClick(&window, Qt::Key_V, Qt::ControlModifier);
    qputenv("PATH", old_path);
    ASSERT_EQ(dialogs_->messages.size(), 2u);
    EXPECT_EQ(dialogs_->messages[1].icon, MessageIcon::information);
    EXPECT_EQ(dialogs_->messages[1].text,
              QStringLiteral("VLC is not installed in its standard location."));
    EXPECT_EQ(dialogs_->launches.size(), 2u);
}

TEST_F(MainWindowTest, ScreenshotWithFourWorkflows) {
    struct Sample {
        const char* name;
        int32_t type, source_type;
        WorkflowState state;
        const char* operation;
        uint64_t seconds;
    };
    const Sample samples[] = {
        {"Main stage restream", 3, 1, WorkflowState::streaming, "Streaming", 25 * 60 + 7},
        {"Night show archive", 2, 1, WorkflowState::recording, "Recording live stream",
         12 * 60 + 48},
        {"Sponsor loop", 4, 2, WorkflowState::error, "Retrying in 3 seconds", 95},
        {"Overlay backup", 1, 2, WorkflowState::stopped, "Stopped", 0},
    };
    const uint64_t now = tick_ms();
    for (const Sample& sample : samples) {
        Workflow& workflow = add_workflow([&](WorkflowSettings& s) {
            s.name = sample.name;
            s.type = sample.type;
            s.source_type = sample.source_type;
            s.source = sample.type == 4 ? "/home/user/Videos/sponsor.mp4"
                                        : "https://www.youtube.com/watch?v=abc123";
            s.output_url = "rtmps://live.example.com:443/app/secret-stream-key";
        });
        workflow_set_status(workflow, sample.state, sample.operation);
        // A young monotonic clock (a fresh machine) cannot go back that far.
        const uint64_t seconds =
            std::min<uint64_t>(sample.seconds, now / 1000 > 1 ? now / 1000 - 1 : 0);
        if (seconds != 0) workflow.start_tick.store(now - seconds * 1000);
    }
    workflow_set_last_error(*app_.workflows[2], "RTMP connect failed: connection refused");
    MainWindow& window = open_window();
    window.show();
    window.select_row(0);
    save_screenshot(window, QStringLiteral("main-window"));
}

}  // namespace
