// The engine contract: status reporting, bitrate parsing, the overlay
// snapshot, and the display names the front ends show.
#include <gtest/gtest.h>

#include "run/engine_status.h"
#include "support/app_fixture.h"

namespace {

TEST(Bitrate, TextRules) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"6000k", 6000000}, {"8M", 8000000}, {"2500000", 2500000}, {"0", 6000000},  {"abc", 6000000},
        {"", 6000000},      {"4.5M", 4},     {"750K", 750000},     {"3m", 3000000}, {"12x", 12},
    };
    for (const auto& [text, bits] : cases) EXPECT_EQ(parse_bitrate(text), bits) << text;
}

TEST(DisplayNames, StatesTypesAndSources) {
    EXPECT_STREQ(workflow_state_name(0), "STOPPED");
    EXPECT_STREQ(workflow_state_name(6), "STARTING PLAYBACK");
    EXPECT_STREQ(workflow_state_name(11), "ERROR");
    EXPECT_STREQ(workflow_state_name(12), "UNKNOWN");
    EXPECT_STREQ(workflow_type_list_name(1), "Overlay");
    EXPECT_STREQ(workflow_type_list_name(2), "Record/Push");
    EXPECT_STREQ(workflow_type_list_name(4), "MP4 Loop");
    EXPECT_STREQ(workflow_type_list_name(0), "Direct");
    EXPECT_STREQ(workflow_type_list_name(5), "Direct");
    EXPECT_STREQ(workflow_source_column(4, 1), "MP4 File");
    EXPECT_STREQ(workflow_source_column(3, 1), "YouTube");
    EXPECT_STREQ(workflow_source_column(3, 7), "Direct");
}

class ContractTest : public AppFixture {};

TEST_F(ContractTest, StatusIsStoredCutAndPostedOnlyWhileSomeoneListens) {
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    on_engine_recording(&w, "Recording segment 1");
    EXPECT_EQ(workflow_state(w), WorkflowState::recording);
    EXPECT_EQ(workflow_current_operation(w), "Recording segment 1");
    ASSERT_EQ(statuses().size(), 1u);
    EXPECT_EQ(statuses()[0].id, w.id);

    app_set_notifier(app_, nullptr, nullptr);  // the window has closed
    on_engine_streaming(&w, std::string(400, 'x').c_str());
    EXPECT_EQ(workflow_state(w), WorkflowState::streaming);
    EXPECT_EQ(workflow_current_operation(w).size(), OPERATION_CAPACITY - 1);
    EXPECT_EQ(statuses().size(), 1u);
}

TEST_F(ContractTest, OverlaySnapshotCopiesTheWorkflowAndFetchesAgain) {
    Workflow& w = add_workflow([](WorkflowSettings& s) {
        s.image_enabled = 1;
        s.image_path = "/img/a.png";
        s.text_enabled = 1;
        s.text = "hello";
        s.text_color = 0x00FF00;
        s.bitrate = "2500k";
    });
    OverlaySettings settings;
    fill_overlay_settings(&w, &settings);
    EXPECT_EQ(settings.image_path, "/img/a.png");
    EXPECT_EQ(settings.text, "hello");
    EXPECT_EQ(settings.text_color, 0x00FF00u);
    EXPECT_EQ(settings.bitrate, 2500000u);
    EXPECT_EQ(settings.image_scale_pct, 100);
    EXPECT_EQ(settings.revision, &w.revision);

    WorkflowSettings edited = workflow_settings_copy(w);
    edited.text = "changed";
    workflow_settings_replace(w, edited);
    w.revision.fetch_add(1);
    OverlaySettings fresh;
    settings.fetch(settings.fetch_context, &fresh);
    EXPECT_EQ(fresh.text, "changed");
    EXPECT_EQ(settings.text, "hello");  // the earlier snapshot is a copy
}

}  // namespace
