// The main window: what a row and the details show, the commands and their
// messages, live updates posted from other threads, closing, and the
// player shortcut. Start, stop and restart themselves are the runner tests'.
#include "ui/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <thread>

#include "fake_dialogs.h"
#include "platform/files/file_lock.h"
#include "platform/files/folders.h"
#include "platform/time/clock.h"
#include "run/engine_status.h"
#include "run/run_control.h"
#include "ui/style.h"
#include "workflow/check_messages.h"
#include "workflow/config.h"

namespace {

using ::testing::AllOf;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

struct FakeEditor {  // what it does when the window opens it
    int calls = 0;
    EditorResult answer = EditorResult::save;
    std::string name = "Added";
};
FakeEditor fake_editor;

EditorResult fake_edit(QWidget*, Workflow& workflow) {
    ++fake_editor.calls;
    WorkflowSettings settings = workflow_settings_copy(workflow);
    settings.name = fake_editor.name;
    if (fake_editor.answer == EditorResult::save) workflow_settings_replace(workflow, settings);
    return fake_editor.answer;
}

class MainWindowTest : public DialogsFixture {
  protected:
    void SetUp() override {
        DialogsFixture::SetUp();
        fake_editor = FakeEditor{};
    }
    void TearDown() override {
        window_.reset();
        DialogsFixture::TearDown();
    }
    MainWindow& open_window() {
        EXPECT_TRUE(config_save(app_));  // as start-up would have read it
        window_ = std::make_unique<MainWindow>(app_, MainWindowOptions{false, false, fake_edit});
        return *window_;
    }
    Workflow& named(const std::string& name, WorkflowState state = WorkflowState::stopped) {
        Workflow& workflow = add_workflow([&](WorkflowSettings& s) { s.name = name; });
        workflow.state.store(static_cast<uint32_t>(state));
        return workflow;
    }
    QString cell(int row, int column) { return window_->list()->model()->index(row, column).data().toString(); }
    void click(ThemedButton* MainButtons::*button) { (window_->buttons().*button)->click(); }
    std::string saved() { return read_file(app_.config_path); }
    // The message boxes shown so far, as icon and text.
    std::vector<std::pair<MessageIcon, QString>> shown() {
        std::vector<std::pair<MessageIcon, QString>> out;
        for (const RecordedMessage& m : dialogs_->messages) out.emplace_back(m.icon, m.text);
        return out;
    }
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, RowAndDetailsShowTheWorkflowWithTheKeyMasked) {
    Workflow& workflow = add_workflow([](WorkflowSettings& s) {
        s.type = WorkflowType::record_then_push, s.source_type = SourceType::youtube;
        s.source = "https://youtu.be/abc", s.output_url = "rtmp://host/app/key";
    });
    workflow_set_status(workflow, WorkflowState::recording, "Recording");
    workflow_set_last_error(workflow, "connection failed");
    workflow.start_tick.store(1);
    MainWindow& window = open_window();
    for (auto [column, text] : {std::pair{0, "Test"}, {1, "Record/Push"}, {2, "YouTube"}, {3, "RECORDING"}})
        EXPECT_EQ(cell(0, column), QString::fromUtf8(text));
    const auto [before, runtime] = std::pair{tick_ms(), cell(0, 4)};  // counted from start_tick to the read
    EXPECT_THAT(runtime.toStdString(), AnyOf(format_runtime(1, before), format_runtime(1, tick_ms())));
    EXPECT_EQ(window.details()->toPlainText(), QString::fromUtf8(main_text::no_selection));
    window.select_row(0);
    EXPECT_EQ(window.details()->toPlainText(), QString::fromStdString(workflow_details_text(workflow, tick_ms())));
    window.list()->clearSelection();
    EXPECT_EQ(window.details()->toPlainText(), QString::fromUtf8(main_text::no_selection));
}

TEST_F(MainWindowTest, CommandsWithoutSelectionDoNothing) {
    named("Running", WorkflowState::streaming);
    MainWindow& window = open_window();
    for (auto button :
         {&MainButtons::edit, &MainButtons::start, &MainButtons::stop, &MainButtons::restart, &MainButtons::remove})
        click(button);
    window.open_output_in_player();
    EXPECT_EQ(std::tuple(dialogs_->messages.size(), fake_editor.calls, app_.workflows.size()), std::tuple(0u, 0, 1u));
    EXPECT_EQ(workflow_state(*app_.workflows[0]), WorkflowState::streaming);
}

TEST_F(MainWindowTest, AddAndEditSaveOnlyWhenTheEditorSaves) {
    Workflow& first = named("First");
    MainWindow& window = open_window();
    click(&MainButtons::add);
    ASSERT_EQ(app_.workflows.size(), 2u);
    EXPECT_EQ(window.selected_workflow(), app_.workflows[1].get());
    window.select_row(0);
    fake_editor.name = "After";
    click(&MainButtons::edit);
    EXPECT_EQ(first.revision.load(), 1u);
    EXPECT_EQ(std::tuple(cell(0, 0), cell(1, 0)), std::tuple(QStringLiteral("After"), QStringLiteral("Added")));
    EXPECT_THAT(saved(), AllOf(HasSubstr("\tAdded\t"), HasSubstr("\tAfter\t")));
    fake_editor.answer = EditorResult::cancel;
    const uint32_t next_id = app_.next_id;
    click(&MainButtons::edit);
    EXPECT_EQ(first.revision.load(), 1u);
    click(&MainButtons::add);
    EXPECT_EQ(std::tuple(app_.workflows.size(), window.list()->model()->rowCount()), std::tuple(2u, 2));
    EXPECT_EQ(app_.next_id, next_id + 1);  // the id of the dropped record is not reused
    while (app_.workflows.size() < MAX_WORKFLOWS) app_.workflows.emplace_back(workflow_create(app_));
    fake_editor.calls = 0;
    click(&MainButtons::add);
    EXPECT_EQ(std::tuple(fake_editor.calls, app_.workflows.size()), std::tuple(0, MAX_WORKFLOWS));
}

TEST_F(MainWindowTest, DeleteRefusesActiveWorkflowsAndAsksForTheRest) {
    named("A");
    named("B", WorkflowState::reconnecting);
    named("C", WorkflowState::completed);
    MainWindow& window = open_window();
    window.select_row(1);
    click(&MainButtons::remove);
    EXPECT_EQ(app_.workflows.size(), 3u);
    window.select_row(2);
    FileLockPtr elsewhere = file_lock_take(run_lock_path(app_, app_.workflows[2]->id));  // a veltrona-cli run
    click(&MainButtons::remove);
    elsewhere.reset();
    dialogs_->answers = {MessageAnswer::no};
    click(&MainButtons::remove);
    EXPECT_EQ(app_.workflows.size(), 3u);
    window.select_row(0);
    click(&MainButtons::remove);  // Yes this time
    const auto ask = std::pair{MessageIcon::question, QStringLiteral("Delete the selected workflow?")};
    const auto refused = std::pair{MessageIcon::warning, QStringLiteral("Stop the workflow before deleting it.")};
    EXPECT_THAT(shown(), ElementsAre(refused, refused, ask, ask));
    ASSERT_EQ(app_.workflows.size(), 2u);
    EXPECT_EQ(std::tie(app_.workflows[0]->settings.name, app_.workflows[1]->settings.name), std::tuple("B", "C"));
    EXPECT_EQ(cell(1, 0), QStringLiteral("C"));
    EXPECT_THAT(saved(), AllOf(Not(HasSubstr("\tA\t")), HasSubstr("\tC\t")));
}

TEST_F(MainWindowTest, FailedStartShowsTheLastError) {
    add_workflow([](WorkflowSettings& s) { s.enabled = false; });
    MainWindow& window = open_window();
    window.select_row(0);
    click(&MainButtons::start);
    EXPECT_THAT(shown(), ElementsAre(std::pair{MessageIcon::error, QStringLiteral("This workflow is disabled.")}));
    EXPECT_EQ(dialogs_->messages.at(0).title, QStringLiteral("Cannot start"));
    EXPECT_EQ(cell(0, 3), QStringLiteral("ERROR"));
}

TEST_F(MainWindowTest, StatusPostedFromAnotherThreadUpdatesTheRow) {
    Workflow& workflow = named("Remote");
    MainWindow& window = open_window();
    window.select_row(0);
    std::thread runner([&] { workflow_set_status(workflow, WorkflowState::recording, "Recording"); });
    runner.join();
    EXPECT_EQ(window.notices_handled(), 0);  // queued for this thread, not handled on the runner's
    EXPECT_TRUE(wait_until([&] { return QCoreApplication::processEvents(), window.notices_handled() >= 1; }, 10000));
    EXPECT_EQ(cell(0, 3), QStringLiteral("RECORDING"));
    EXPECT_TRUE(window.details()->toPlainText().startsWith(QStringLiteral("Current operation: Recording\n")));
}

TEST_F(MainWindowTest, ClosingAsksOncePerActiveWorkflowAndNoKeepsThemRunning) {
    Workflow& first = named("One", WorkflowState::streaming);
    named("Idle");
    Workflow& second = named("Two", WorkflowState::waiting);
    MainWindow& window = open_window();
    window.show();
    dialogs_->answers = {MessageAnswer::yes, MessageAnswer::no};
    EXPECT_FALSE(window.close());
    const auto exit = std::pair{MessageIcon::question, QStringLiteral("Active workflows will be stopped. Exit?")};
    EXPECT_THAT(shown(), ElementsAre(exit, exit));  // once per active workflow
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(std::tuple(workflow_state(first), workflow_state(second)),
              std::tuple(WorkflowState::streaming, WorkflowState::waiting));
    dialogs_->messages.clear();
    EXPECT_TRUE(window.close());  // Yes, Yes
    EXPECT_THAT(shown(), ElementsAre(exit, exit));
    EXPECT_EQ(std::tuple(workflow_state(first), workflow_state(second)),
              std::tuple(WorkflowState::stopped, WorkflowState::stopped));
    EXPECT_EQ(std::tuple(app_.workflows.size(), app_.notifier), std::tuple(3u, nullptr));  // stopped, not freed
}

// What another program saved while the window is open stays: an edit is
// applied to the file as it is; a file that cannot be read is not replaced.
TEST_F(MainWindowTest, SavesKeepWhatAnotherProgramSavedAndRefuseAnUnreadableFile) {
    named("Mine");
    MainWindow& window = open_window();
    AppContext other;
    other.config_path = app_.config_path;
    std::string error;
    ASSERT_TRUE(config_update(
        other, [](WorkflowList& saved) { return saved.workflows.emplace_back(workflow_create(saved)), true; }, &error));
    window.select_row(0);
    fake_editor.name = "Edited";
    click(&MainButtons::edit);
    EXPECT_THAT(saved(), AllOf(HasSubstr("\tEdited\t"), HasSubstr("\nW\t2\t")));
    EXPECT_EQ(std::tuple(app_.workflows.size(), cell(1, 0)), std::tuple(2u, QStringLiteral("")));
    ASSERT_TRUE(std::filesystem::remove(app_.config_path) && ensure_directory(app_.config_path));
    click(&MainButtons::add);
    EXPECT_THAT(shown(),
                ElementsAre(std::pair{MessageIcon::error,
                                      QString::fromStdString(app_.config_path + " cannot be read: Is a directory")}));
    EXPECT_EQ(app_.workflows.size(), 2u);
    EXPECT_TRUE(is_directory(app_.config_path));
}

// Ctrl+V hands the unmasked output to the player, never as an option; a
// failed launch, a missing player and a hand-edited non-URL each say so.
TEST_F(MainWindowTest, ControlVOpensTheUnmaskedOutputInThePlayer) {
    Workflow& workflow = add_workflow([](WorkflowSettings& s) { s.output_url = "rtmp://host/app/key"; });
    TempDir bin;
    write_file(bin.file("vlc"), "#!/bin/sh\nexit 0\n", 0755);
    MainWindow& window = open_window();
    window.show();
    window.select_row(0);
    ScopedEnv path("PATH", bin.path());
    QTest::keyClick(window.list(), Qt::Key_V, Qt::ControlModifier);
    dialogs_->launch_result = false;
    window.open_output_in_player();
    workflow.settings.output_url = "--sout=file/ts:copy.ts";
    window.open_output_in_player();
    setenv("PATH", dir_.path().c_str(), 1);
    workflow.settings.output_url = "rtmp://host/app/key";
    window.open_output_in_player();
    const auto launch = std::pair{QString::fromStdString(bin.file("vlc")),
                                  QStringList{QStringLiteral("--"), QStringLiteral("rtmp://host/app/key")}};
    EXPECT_THAT(dialogs_->launches, ElementsAre(launch, launch));
    EXPECT_THAT(
        shown(),
        ElementsAre(
            std::pair{MessageIcon::warning, QStringLiteral("VLC could not open the selected output URL.")},
            std::pair{MessageIcon::warning, QString::fromUtf8(check_message::output_invalid)},
            std::pair{MessageIcon::information, QStringLiteral("VLC is not installed in its standard location.")}));
}

}  // namespace
