// The engine status adapters: status reporting and bitrate parsing.
#include "run/engine_status.h"

#include <gtest/gtest.h>

#include "support/app_fixture.h"

namespace {

TEST(Bitrate, TextRules) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"6000k", 6000000}, {"8M", 8000000}, {"2500000", 2500000}, {"0", 6000000},  {"abc", 6000000},
        {"", 6000000},      {"4.5M", 4},     {"750K", 750000},     {"3m", 3000000}, {"12x", 12},
    };
    for (const auto& [text, bits] : cases) EXPECT_EQ(parse_bitrate(text), bits) << text;
}

class ContractTest : public AppFixture {};

TEST_F(ContractTest, StatusIsStoredCutAndPostedOnlyWhileSomeoneListens) {
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    on_engine_recording(&w, "Recording segment 1");
    EXPECT_EQ(std::tuple(workflow_state(w), workflow_current_operation(w)),
              std::tuple(WorkflowState::recording, "Recording segment 1"));
    ASSERT_EQ(statuses().size(), 1u);
    EXPECT_EQ(statuses()[0].id, w.id);
    run_set_notifier(app_, nullptr, nullptr);  // the window has closed
    on_engine_streaming(&w, std::string(400, 'x').c_str());
    EXPECT_EQ(std::tuple(workflow_state(w), workflow_current_operation(w).size(), statuses().size()),
              std::tuple(WorkflowState::streaming, OPERATION_CAPACITY - 1, 1u));
}

}  // namespace
