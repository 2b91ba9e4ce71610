// The workflow editor's wiring: a failed Save check (its box, text and
// focus, the record untouched), every control reaching its field, values
// kept across type changes, the more-outputs list, and the colour chooser. The checks and the
// form are tested in tests/workflow and tests/presentation.
#include "ui/editor.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <tuple>

#include "fake_dialogs.h"

namespace {

using EditorTest = DialogsFixture;

TEST_F(EditorTest, FailedCheckWarnsFocusesAndLeavesTheRecordAlone) {
    Workflow& record = add_workflow([](WorkflowSettings&) {});
    const std::string before = workflow_settings_copy(record).output_url;
    WorkflowEditor editor(nullptr, record);
    const EditorControls& c = editor.controls();
    editor.show();
    c.name->setText("Renamed"), c.output->setText("rtmp://host/");
    EXPECT_FALSE(editor.save());
    ASSERT_EQ(dialogs_->messages.size(), 1u);
    const RecordedMessage& m = dialogs_->messages[0];
    EXPECT_EQ(std::tie(m.icon, m.title), std::tuple(MessageIcon::warning, QStringLiteral("Invalid output URL")));
    EXPECT_EQ(m.text, QStringLiteral("Enter a complete RTMP or RTMPS output URL, including its application/path."));
    EXPECT_EQ(std::tuple(editor.focusWidget(), editor.isVisible()), std::tuple(c.output, true));
    c.cancel->click();
    EXPECT_EQ(editor.result(), QDialog::Rejected);
    const WorkflowSettings kept = workflow_settings_copy(record);
    EXPECT_EQ(std::tie(kept.name, kept.output_url), std::tie("Test", before));
}

TEST_F(EditorTest, SaveWritesEveryFieldInOneStep) {
    write_file(dir_.file("logo.png"), "x");
    Workflow& record = add_workflow([](WorkflowSettings& s) { s.audio_codec = "mp3"; });
    WorkflowEditor editor(nullptr, record);
    const EditorControls& c = editor.controls();
    c.type->setCurrentIndex(0), c.name->setText("Main stage"), c.enabled->setChecked(false);
    c.image_enabled->setChecked(true), c.image_path->setText(QString::fromStdString(dir_.file("logo.png")));
    c.image_x->setCurrentIndex(12), c.image_y->setCurrentIndex(99), c.image_scale->setText("75");
    c.text_enabled->setChecked(true), c.text->setText("Hello"), c.text_bottom->setCurrentIndex(5);
    c.font_size->setText("99999999999");  // held at the int range
    c.text_color->setText("#ff8800"), c.background_color->setText("#000010"), c.scroll_speed->setCurrentIndex(19);
    c.encoder->setCurrentIndex(2), c.bitrate->setText("8M");
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    const WorkflowSettings s = workflow_settings_copy(record);
    EXPECT_EQ(std::tie(s.name, s.type, s.enabled, s.image_enabled, s.image_x_pct, s.image_y_pct, s.image_scale_pct),
              std::make_tuple(std::string("Main stage"), WorkflowType::overlay_stream, false, true, 12, 99, 75));
    EXPECT_EQ(std::tie(s.text, s.text_bottom_pct, s.font_size, s.scroll_speed),
              std::make_tuple(std::string("Hello"), 5, 2147483647, 200));
    EXPECT_EQ(std::tie(s.text_color, s.background_color), std::tuple(0x0088FFu, 0x100000u));  // red in the low byte
    EXPECT_EQ(std::tie(s.encoder, s.bitrate, s.audio_codec),
              std::tie("Software H.264", "8M", "mp3"));  // no control edits the codec
}

TEST_F(EditorTest, MoreOutputsAddRemoveEnableAndSurviveTheSave) {
    Workflow& record = add_workflow([](WorkflowSettings& s) {
        s.extra_outputs = {{"rtmp://b/live/k2", true}, {"rtmp://c/live/k3", false}};
    });
    WorkflowEditor editor(nullptr, record);
    const EditorControls& c = editor.controls();
    QListWidget* list = c.output_list;
    editor.show();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(std::tuple(list->item(0)->text(), list->item(0)->checkState(), list->item(1)->checkState()),
              std::tuple(QStringLiteral("rtmp://b/live/********"), Qt::Checked, Qt::Unchecked));
    c.output_new->setText("rtmp://B/live/k2");
    c.output_add->click();
    ASSERT_EQ(dialogs_->messages.size(), 1u);
    EXPECT_EQ(std::tuple(dialogs_->messages[0].text, editor.focusWidget(), list->count()),
              std::tuple(QStringLiteral("Two outputs have the same URL."), c.output_new, 2));
    c.output_new->setText("rtmp://d/live/k4");
    c.output_add->click();
    EXPECT_EQ(std::tuple(list->count(), c.output_new->text()), std::tuple(3, QString()));
    list->item(0)->setCheckState(Qt::Unchecked);
    list->setCurrentRow(1);
    c.output_remove->click();
    ASSERT_TRUE(editor.save());
    std::vector<ExtraOutput> saved = {{"rtmp://b/live/k2", false}, {"rtmp://d/live/k4", true}};
    EXPECT_EQ(workflow_settings_copy(record).extra_outputs, saved);
    WorkflowEditor again(nullptr, record);
    again.controls().output_new->setText("rtmp://e/live/k5");  // typed, not added: Save adds it
    ASSERT_TRUE(again.save());
    saved.push_back({"rtmp://e/live/k5", true});
    EXPECT_EQ(workflow_settings_copy(record).extra_outputs, saved);
}

TEST_F(EditorTest, TypeChangesKeepUnsavedValues) {
    Workflow& record = add_workflow([](WorkflowSettings& s) { s.type = WorkflowType::overlay_stream; });
    WorkflowEditor editor(nullptr, record);
    const EditorControls& c = editor.controls();
    c.text->setText("Unsaved"), c.image_x->setCurrentIndex(33);
    for (int type_index : {1, 2, 3, 0}) c.type->setCurrentIndex(type_index);  // the overlay group hidden and back
    EXPECT_EQ(std::tuple(c.text->text(), c.image_x->currentIndex()), std::tuple(QStringLiteral("Unsaved"), 33));
    EXPECT_EQ(workflow_settings_copy(record).text, "");
}

TEST_F(EditorTest, ColourChooserWritesBlueGreenRedAndCancelChangesNothing) {
    Workflow& record = add_workflow([](WorkflowSettings& s) { s.type = WorkflowType::mp4_loop; });
    WorkflowEditor editor(nullptr, record);
    const EditorControls& c = editor.controls();
    editor.show();
    c.text_color->setText("#102030"), dialogs_->colour_answer = QColor(0xAB, 0xCD, 0xEF);
    c.text_color_pick->click();
    EXPECT_EQ(std::tuple(dialogs_->colour_initial, c.text_color->text()),
              std::tuple(QColor(0x10, 0x20, 0x30), QStringLiteral("#ABCDEF")));
    EXPECT_EQ(editor.focusWidget(), c.text_color);
    c.background_color->setText("nonsense"), dialogs_->colour_answer.reset();
    c.background_color_pick->click();
    EXPECT_EQ(std::tuple(dialogs_->colour_initial, c.background_color->text()),
              std::tuple(QColor(Qt::black), QStringLiteral("nonsense")));
    dialogs_->file_answer.clear();  // a cancelled file chooser
    c.source_browse->click();
    EXPECT_FALSE(c.source->text().isEmpty());
}

}  // namespace
