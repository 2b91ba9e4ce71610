// The engine status adapters: status reporting.
#include "run/engine_status.h"

#include <gtest/gtest.h>

#include "support/app_fixture.h"

namespace {

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
