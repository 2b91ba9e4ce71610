// The workflow editor: each Save check with its box, text and focus; the
// record untouched until every check passes; the per-type layouts and
// their sizes; colour, number and list round trips; the choosers.
#include "ui/editor.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <tuple>

#include "fake_dialogs.h"
#include "platform/folders.h"
#include "support/app_fixture.h"
#include "workflow/validate.h"

namespace {

using namespace editor_id;

auto settings_tuple(const WorkflowSettings& s) {
    return std::tie(s.name, s.type, s.source_type, s.enabled, s.source, s.output_url,
                    s.image_enabled, s.image_path, s.image_x_pct, s.image_y_pct, s.image_scale_pct,
                    s.text_enabled, s.text, s.reserved, s.text_bottom_pct, s.font_size,
                    s.scroll_speed, s.text_color, s.background_color, s.encoder, s.bitrate,
                    s.audio_codec, s.recording_dir, s.poll_seconds, s.reconnects,
                    s.delete_after_push, s.prefer_stream_copy, s.fallback_transcoding);
}

bool same_settings(const WorkflowSettings& a, const WorkflowSettings& b) {
    return settings_tuple(a) == settings_tuple(b);
}

class EditorTest : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        dialogs_ = &install_fake_dialogs();
    }
    void TearDown() override {
        ui_hooks_reset();
        AppFixture::TearDown();
    }

    Workflow& workflow(const std::function<void(WorkflowSettings&)>& edit = [](WorkflowSettings&) {
    }) {
        return add_workflow(edit);
    }

    static QLineEdit* edit(WorkflowEditor& editor, int id) {
        return static_cast<QLineEdit*>(editor.control(id));
    }
    static QComboBox* combo(WorkflowEditor& editor, int id) {
        return static_cast<QComboBox*>(editor.control(id));
    }
    static QCheckBox* check(WorkflowEditor& editor, int id) {
        return static_cast<QCheckBox*>(editor.control(id));
    }

    FakeDialogs* dialogs_ = nullptr;
};

struct SaveCheckCase {
    const char* label;
    std::function<void(WorkflowEditor&, const std::string& dir)> change;
    const char* title;
    std::string text;
    int focus;
};

TEST_F(EditorTest, EachSaveCheckWarnsFocusesAndLeavesTheRecordAlone) {
    ASSERT_TRUE(ensure_directory(dir_.file("clip.mp4")));
    const std::vector<SaveCheckCase> cases = {
        {"empty name", [](WorkflowEditor& e, const std::string&) { edit(e, name)->clear(); },
         "Invalid workflow", "Enter a workflow name.", name},
        {"mp4 folder",
         [](WorkflowEditor& e, const std::string& dir) {
             combo(e, type)->setCurrentIndex(3);
             edit(e, source)->setText(QString::fromStdString(dir + "/clip.mp4"));
         },
         "Invalid MP4 file", "Select an existing MP4 video file.", source},
        {"youtube source",
         [](WorkflowEditor& e, const std::string&) {
             combo(e, source_type)->setCurrentIndex(0);
             edit(e, source)->setText(QStringLiteral("https://example.com/watch?v=1"));
         },
         "Invalid source URL", youtube_source_message(), source},
        {"direct source",
         [](WorkflowEditor& e, const std::string&) {
             edit(e, source)->setText(QStringLiteral("ftp://x/y"));
         },
         "Invalid source URL", "Enter a valid HTTP, HTTPS, RTMP, RTMPS, or SRT source URL.",
         source},
        {"output without path",
         [](WorkflowEditor& e, const std::string&) {
             edit(e, output)->setText(QStringLiteral("rtmp://host/"));
         },
         "Invalid output URL",
         "Enter a complete RTMP or RTMPS output URL, including its application/path.", output},
        {"missing image",
         [](WorkflowEditor& e, const std::string& dir) {
             combo(e, type)->setCurrentIndex(0);
             check(e, image_enabled)->setChecked(true);
             edit(e, image_path)->setText(QString::fromStdString(dir + "/missing.png"));
         },
         "Invalid image overlay", "Select an existing image file for the image overlay.",
         image_path},
        {"short text colour",
         [](WorkflowEditor& e, const std::string&) {
             combo(e, type)->setCurrentIndex(0);
             edit(e, text_color)->setText(QStringLiteral("#FFF"));
         },
         "Invalid text color", "Enter the text color as #RRGGBB.", text_color},
        {"long background",
         [](WorkflowEditor& e, const std::string&) {
             combo(e, type)->setCurrentIndex(0);
             edit(e, background_color)->setText(QStringLiteral("#FF88000"));
         },
         "Invalid background color", "Enter the background color as #RRGGBB.", background_color},
    };
    for (const SaveCheckCase& test_case : cases) {
        SCOPED_TRACE(test_case.label);
        Workflow& record = workflow();
        const WorkflowSettings before = workflow_settings_copy(record);
        WorkflowEditor editor(nullptr, record);
        editor.show();
        dialogs_->messages.clear();
        test_case.change(editor, dir_.path());
        EXPECT_FALSE(editor.save());
        ASSERT_EQ(dialogs_->messages.size(), 1u);
        EXPECT_EQ(dialogs_->messages[0].icon, MessageIcon::warning);
        EXPECT_EQ(dialogs_->messages[0].title.toStdString(), test_case.title);
        EXPECT_EQ(dialogs_->messages[0].text.toStdString(), test_case.text);
        EXPECT_EQ(editor.focusWidget(), editor.control(test_case.focus));
        EXPECT_TRUE(editor.isVisible());
        EXPECT_TRUE(same_settings(workflow_settings_copy(record), before));
        static_cast<QPushButton*>(editor.control(cancel_button))->click();
        EXPECT_EQ(editor.result(), QDialog::Rejected);
        EXPECT_TRUE(same_settings(workflow_settings_copy(record), before));
    }
}

TEST_F(EditorTest, NameIsCheckedBeforeEverythingElse) {
    Workflow& record = workflow();
    WorkflowEditor editor(nullptr, record);
    edit(editor, name)->clear();
    edit(editor, output)->clear();
    edit(editor, text_color)->setText(QStringLiteral("bad"));
    EXPECT_FALSE(editor.save());
    ASSERT_EQ(dialogs_->messages.size(), 1u);
    EXPECT_EQ(dialogs_->messages[0].title, QStringLiteral("Invalid workflow"));
}

TEST_F(EditorTest, SaveWritesEveryFieldInOneStep) {
    write_file(dir_.file("logo.png"), "x");
    Workflow& record = workflow([](WorkflowSettings& s) { s.audio_codec = "mp3"; });
    WorkflowEditor editor(nullptr, record);
    combo(editor, type)->setCurrentIndex(0);
    edit(editor, name)->setText(QStringLiteral("Main stage"));
    check(editor, enabled)->setChecked(false);
    check(editor, image_enabled)->setChecked(true);
    edit(editor, image_path)->setText(QString::fromStdString(dir_.file("logo.png")));
    combo(editor, image_x)->setCurrentIndex(12);
    combo(editor, image_y)->setCurrentIndex(99);
    edit(editor, image_scale)->setText(QStringLiteral("75"));
    check(editor, text_enabled)->setChecked(true);
    edit(editor, text)->setText(QStringLiteral("Hello"));
    combo(editor, text_bottom)->setCurrentIndex(5);
    edit(editor, font_size)->setText(QStringLiteral("48"));
    edit(editor, text_color)->setText(QStringLiteral("#ff8800"));
    edit(editor, background_color)->setText(QStringLiteral("#000010"));
    combo(editor, scroll_speed)->setCurrentIndex(19);
    combo(editor, encoder)->setCurrentIndex(2);
    edit(editor, bitrate)->setText(QStringLiteral("8M"));
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(editor.result(), QDialog::Accepted);

    const WorkflowSettings saved = workflow_settings_copy(record);
    EXPECT_EQ(saved.name, "Main stage");
    EXPECT_EQ(saved.type, 1);
    EXPECT_EQ(saved.enabled, 0);
    EXPECT_EQ(saved.image_enabled, 1);
    EXPECT_EQ(saved.image_x_pct, 12);
    EXPECT_EQ(saved.image_y_pct, 99);
    EXPECT_EQ(saved.image_scale_pct, 75);
    EXPECT_EQ(saved.text, "Hello");
    EXPECT_EQ(saved.text_bottom_pct, 5);
    EXPECT_EQ(saved.font_size, 48);
    EXPECT_EQ(saved.text_color, 0x0088FFu);  // red in the low byte
    EXPECT_EQ(saved.background_color, 0x100000u);
    EXPECT_EQ(saved.scroll_speed, 200);
    EXPECT_EQ(saved.encoder, "Software H.264");
    EXPECT_EQ(saved.bitrate, "8M");
    EXPECT_EQ(saved.audio_codec, "mp3");  // no control edits it
    EXPECT_EQ(saved.reserved, 0);
}

TEST_F(EditorTest, ColourTypedInLowerCaseComesBackInCapitals) {
    Workflow& record = workflow();
    {
        WorkflowEditor editor(nullptr, record);
        edit(editor, text_color)->setText(QStringLiteral("#ff8800"));
        ASSERT_TRUE(editor.save());
    }
    WorkflowEditor reopened(nullptr, record);
    EXPECT_EQ(edit(reopened, text_color)->text(), QStringLiteral("#FF8800"));
    EXPECT_EQ(edit(reopened, background_color)->text(), QStringLiteral("#000000"));
}

TEST_F(EditorTest, AllOnesColourOpensAsBlack) {
    Workflow& record = workflow([](WorkflowSettings& s) { s.background_color = 0xFFFFFFFFu; });
    WorkflowEditor editor(nullptr, record);
    EXPECT_EQ(edit(editor, background_color)->text(), QStringLiteral("#000000"));
}

TEST_F(EditorTest, PollSecondsBelowFiveAreSavedAsFifteen) {
    for (auto [typed, stored] : {std::pair{"4", 15}, {"5", 5}, {"", 15}, {"120", 120}}) {
        SCOPED_TRACE(typed);
        Workflow& record = workflow();
        WorkflowEditor editor(nullptr, record);
        combo(editor, type)->setCurrentIndex(1);
        edit(editor, poll_seconds)->setText(QString::fromUtf8(typed));
        ASSERT_TRUE(editor.save());
        EXPECT_EQ(workflow_settings_copy(record).poll_seconds, stored);
    }
}

TEST_F(EditorTest, ScrollSpeedOutsideTheListOpensOnANearbyEntry) {
    for (auto [stored, shown, saved] :
         {std::tuple{7, "50", 50}, {55, "50", 50}, {10, "10", 10}, {250, "200", 200}}) {
        SCOPED_TRACE(stored);
        Workflow& record =
            workflow([stored = stored](WorkflowSettings& s) { s.scroll_speed = stored; });
        WorkflowEditor editor(nullptr, record);
        EXPECT_EQ(combo(editor, scroll_speed)->currentText(), QString::fromUtf8(shown));
        ASSERT_TRUE(editor.save());
        EXPECT_EQ(workflow_settings_copy(record).scroll_speed, saved);
    }
}

TEST_F(EditorTest, ListsOpenOnTheStoredValues) {
    Workflow& record = workflow([](WorkflowSettings& s) {
        s.type = 2;
        s.image_x_pct = 150;
        s.image_y_pct = -3;
        s.text_bottom_pct = 42;
        s.encoder = "Hardware H.264";
    });
    WorkflowEditor editor(nullptr, record);
    EXPECT_EQ(combo(editor, type)->currentText(), QStringLiteral("Record then Push"));
    EXPECT_EQ(combo(editor, source_type)->currentText(), QStringLiteral("Direct URL"));
    EXPECT_EQ(combo(editor, image_x)->currentText(), QStringLiteral("99"));
    EXPECT_EQ(combo(editor, image_y)->currentText(), QStringLiteral("0"));
    EXPECT_EQ(combo(editor, text_bottom)->currentText(), QStringLiteral("42"));
    QStringList encoders;
    for (int i = 0; i < combo(editor, encoder)->count(); ++i)
        encoders << combo(editor, encoder)->itemText(i);
    EXPECT_EQ(encoders, (QStringList{"Auto", "Hardware H.264", "Software H.264"}));
    EXPECT_EQ(combo(editor, encoder)->currentText(), QStringLiteral("Hardware H.264"));
    EXPECT_EQ(combo(editor, scroll_speed)->count(), 20);
    EXPECT_EQ(combo(editor, image_x)->count(), 100);
    EXPECT_EQ(editor.windowTitle(), QStringLiteral("Workflow Configuration"));
}

TEST_F(EditorTest, UnknownTypeOpensAsDirectRestream) {
    Workflow& record = workflow([](WorkflowSettings& s) { s.type = 5; });
    WorkflowEditor editor(nullptr, record);
    EXPECT_EQ(combo(editor, type)->currentText(), QStringLiteral("Direct Restream"));
    EXPECT_TRUE(editor.control(direct_group)->isVisibleTo(&editor));
}

struct LayoutCase {
    int type;
    bool overlay, record, direct, mp4;
    int client_height_dlu;
    int buttons_y_dlu;
};

TEST_F(EditorTest, EachTypeShowsItsGroupAndTakesItsClientSize) {
    Workflow& record = workflow();
    WorkflowEditor editor(nullptr, record);
    const DialogUnits& units = editor.units();
    for (const LayoutCase& c : {LayoutCase{1, true, false, false, false, 406, 376},
                                LayoutCase{2, false, true, false, false, 286, 256},
                                LayoutCase{3, false, false, true, false, 243, 213},
                                LayoutCase{4, true, false, false, true, 406, 376}}) {
        SCOPED_TRACE(c.type);
        combo(editor, type)->setCurrentIndex(c.type - 1);
        EXPECT_EQ(editor.size(), dialog_size(units, 500, c.client_height_dlu));
        EXPECT_EQ(editor.control(overlay_group)->isVisibleTo(&editor), c.overlay);
        EXPECT_EQ(editor.control(text_color)->isVisibleTo(&editor), c.overlay);
        EXPECT_EQ(editor.control(233)->isVisibleTo(&editor), c.overlay);
        EXPECT_EQ(editor.control(record_group)->isVisibleTo(&editor), c.record);
        EXPECT_EQ(editor.control(poll_seconds)->isVisibleTo(&editor), c.record);
        EXPECT_EQ(editor.control(direct_group)->isVisibleTo(&editor), c.direct);
        EXPECT_EQ(editor.control(fallback_transcoding)->isVisibleTo(&editor), c.direct);
        EXPECT_EQ(editor.control(source_browse)->isVisibleTo(&editor), c.mp4);
        EXPECT_EQ(editor.control(source_type)->isVisibleTo(&editor), !c.mp4);
        EXPECT_EQ(editor.control(source_type_label)->isVisibleTo(&editor), !c.mp4);
        EXPECT_EQ(static_cast<QLabel*>(editor.control(source_label))->text(),
                  c.mp4 ? QStringLiteral("MP4 file") : QStringLiteral("Source URL"));
        const QRect source_rect = dialog_rect(units, 104, 99, c.mp4 ? 330 : 384, 22);
        EXPECT_EQ(editor.control(source)->x(), source_rect.x());
        EXPECT_EQ(editor.control(source)->width(), source_rect.width());
        EXPECT_EQ(editor.control(save_button)->geometry(),
                  dialog_rect(units, 348, c.buttons_y_dlu, 66, 24));
        EXPECT_EQ(editor.control(cancel_button)->geometry(),
                  dialog_rect(units, 422, c.buttons_y_dlu, 66, 24));
    }
    EXPECT_EQ(editor.control(record_group)->geometry(), dialog_rect(units, 12, 160, 476, 88));
}

TEST_F(EditorTest, SwitchingTypeAndBackKeepsUnsavedOverlayValues) {
    Workflow& record = workflow([](WorkflowSettings& s) { s.type = 1; });
    WorkflowEditor editor(nullptr, record);
    edit(editor, text)->setText(QStringLiteral("Unsaved"));
    combo(editor, image_x)->setCurrentIndex(33);
    check(editor, text_enabled)->setChecked(true);
    combo(editor, type)->setCurrentIndex(2);
    combo(editor, type)->setCurrentIndex(0);
    EXPECT_EQ(edit(editor, text)->text(), QStringLiteral("Unsaved"));
    EXPECT_EQ(combo(editor, image_x)->currentIndex(), 33);
    EXPECT_TRUE(check(editor, text_enabled)->isChecked());
    EXPECT_EQ(workflow_settings_copy(record).text, "");
}

TEST_F(EditorTest, Mp4PathWithCapitalExtensionIsAccepted) {
    write_file(dir_.file("clip.MP4"), "not really a movie");
    Workflow& record = workflow();
    WorkflowEditor editor(nullptr, record);
    combo(editor, type)->setCurrentIndex(3);
    edit(editor, source)->setText(QString::fromStdString(dir_.file("clip.MP4")));
    EXPECT_TRUE(editor.save()) << (dialogs_->messages.empty()
                                       ? ""
                                       : dialogs_->messages[0].text.toStdString());
    EXPECT_EQ(workflow_settings_copy(record).type, 4);
}

TEST_F(EditorTest, NumberFieldsReadTheirDigits) {
    Workflow& record = workflow([](WorkflowSettings& s) { s.type = 2; });
    WorkflowEditor editor(nullptr, record);
    EXPECT_EQ(edit(editor, reconnects)->text(), QStringLiteral("5"));
    QTest::keyClicks(edit(editor, reconnects), QStringLiteral("x9"));  // only digits are typed
    EXPECT_EQ(edit(editor, reconnects)->text(), QStringLiteral("59"));
    edit(editor, font_size)->setText(QStringLiteral("99999999999"));
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(workflow_settings_copy(record).reconnects, 59);
    EXPECT_EQ(workflow_settings_copy(record).font_size, 2147483647);
}

TEST_F(EditorTest, CheckBoxesToggleOnClickAndSave) {
    Workflow& record = workflow();
    WorkflowEditor editor(nullptr, record);
    editor.show();
    ThemedCheckBox* box = static_cast<ThemedCheckBox*>(editor.control(prefer_stream_copy));
    ASSERT_TRUE(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton, {},
                      QPoint(box->width() - 4, box->height() / 2));  // on the label
    EXPECT_FALSE(box->isChecked());
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(workflow_settings_copy(record).prefer_stream_copy, 0);
}

TEST_F(EditorTest, ColourPickerStartsFromTheEditAndWritesTheChoice) {
    Workflow& record = workflow([](WorkflowSettings& s) { s.type = 1; });
    WorkflowEditor editor(nullptr, record);
    editor.show();
    edit(editor, text_color)->setText(QStringLiteral("#102030"));
    dialogs_->colour_answer = QColor(0xAB, 0xCD, 0xEF);
    static_cast<QPushButton*>(editor.control(text_color_pick))->click();
    EXPECT_EQ(dialogs_->colour_initial, QColor(0x10, 0x20, 0x30));
    EXPECT_EQ(edit(editor, text_color)->text(), QStringLiteral("#ABCDEF"));
    EXPECT_EQ(edit(editor, text_color)->selectedText(), QStringLiteral("#ABCDEF"));
    EXPECT_EQ(editor.focusWidget(), editor.control(text_color));

    edit(editor, background_color)->setText(QStringLiteral("nonsense"));
    dialogs_->colour_answer.reset();
    static_cast<QPushButton*>(editor.control(background_color_pick))->click();
    EXPECT_EQ(dialogs_->colour_initial, QColor(Qt::black));
    EXPECT_EQ(edit(editor, background_color)->text(), QStringLiteral("nonsense"));  // cancelled
}

TEST_F(EditorTest, BrowseReplacesThePathWithTheChosenFile) {
    Workflow& record = workflow([](WorkflowSettings& s) { s.type = 4; });
    WorkflowEditor editor(nullptr, record);
    dialogs_->file_answer = QStringLiteral("/videos/loop.mp4");
    static_cast<QPushButton*>(editor.control(source_browse))->click();
    EXPECT_EQ(edit(editor, source)->text(), QStringLiteral("/videos/loop.mp4"));
    dialogs_->file_answer = QStringLiteral("/pictures/logo.png");
    static_cast<QPushButton*>(editor.control(image_browse))->click();
    EXPECT_EQ(edit(editor, image_path)->text(), QStringLiteral("/pictures/logo.png"));
    dialogs_->file_answer.clear();  // chooser cancelled
    static_cast<QPushButton*>(editor.control(image_browse))->click();
    EXPECT_EQ(edit(editor, image_path)->text(), QStringLiteral("/pictures/logo.png"));
}

TEST_F(EditorTest, EscapeCancelsAndEnterSaves) {
    Workflow& record = workflow();
    {
        WorkflowEditor editor(nullptr, record);
        editor.show();
        edit(editor, name)->setText(QStringLiteral("Changed"));
        QTest::keyClick(edit(editor, name), Qt::Key_Escape);
        EXPECT_EQ(editor.result(), QDialog::Rejected);
        EXPECT_EQ(workflow_settings_copy(record).name, "Test");
    }
    WorkflowEditor editor(nullptr, record);
    editor.show();
    edit(editor, name)->setText(QStringLiteral("Changed"));
    QTest::keyClick(edit(editor, name), Qt::Key_Return);
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_EQ(workflow_settings_copy(record).name, "Changed");
}

TEST_F(EditorTest, ScreenshotsOfEveryType) {
    write_file(dir_.file("logo.png"), "x");
    const char* names[] = {"editor-overlay", "editor-record-push", "editor-direct",
                           "editor-mp4-loop"};
    for (int type_value = 1; type_value <= 4; ++type_value) {
        Workflow& record = workflow([&](WorkflowSettings& s) {
            s.type = type_value;
            s.name = "Evening show";
            s.source_type = 1;
            s.source = type_value == 4 ? "/home/user/Videos/loop.mp4"
                                       : "https://www.youtube.com/watch?v=abc123";
            s.output_url = "rtmps://live.example.com:443/app/secret-key";
            s.image_enabled = 1;
            s.image_path = "/home/user/Pictures/logo.png";
            s.text_enabled = 1;
            s.text = "Live from the main stage";
            s.text_color = 0x00D7FF;
        });
        WorkflowEditor editor(nullptr, record);
        editor.show();
        save_screenshot(editor, QString::fromUtf8(names[type_value - 1]));
    }
}

}  // namespace
