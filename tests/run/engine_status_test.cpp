// The engine status adapters: status reporting, and the outputs of a run
// that has several.
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

OutputStatus output(size_t number, OutputState state, const char* error = "") {
    return {.number = number, .state = state, .since_ms = 0, .last_error = error};
}

// The run is RECONNECTING while no output is connected and back in its
// state once one is, unless the runner set a RECONNECTING of its own since:
// that one only the runner ends.
TEST_F(ContractTest, EveryOutputDownIsReconnectingUntilOneIsBack) {
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    for (const WorkflowState phase : {WorkflowState::streaming, WorkflowState::playing}) {
        workflow_set_status(w, phase, "Working");
        on_output_status(&w, output(1, OutputState::connecting));
        EXPECT_EQ(workflow_state(w), phase) << "a first attempt is no failure";
        on_output_status(&w, output(1, OutputState::connected));
        on_output_status(&w, output(3, OutputState::connected));
        on_output_status(&w, output(3, OutputState::reconnecting, "reset"));
        EXPECT_EQ(workflow_state(w), phase);
        on_output_status(&w, output(1, OutputState::reconnecting, "refused"));
        EXPECT_EQ(std::tuple(workflow_state(w), workflow_current_operation(w)),
                  std::tuple(WorkflowState::reconnecting, "Every output is reconnecting"));
        on_output_status(&w, output(3, OutputState::connected));
        EXPECT_EQ(std::tuple(workflow_state(w), workflow_current_operation(w)),
                  std::tuple(phase, "Outputs connected: 1 of 2"));
        workflow_clear_outputs(w);
    }
    on_output_status(&w, output(1, OutputState::reconnecting, "refused"));
    ASSERT_EQ(workflow_state(w), WorkflowState::reconnecting);
    workflow_set_status(w, WorkflowState::reconnecting, "Restarting source after error");
    on_output_status(&w, output(1, OutputState::connected));
    EXPECT_EQ(std::tuple(workflow_state(w), workflow_current_operation(w)),
              std::tuple(WorkflowState::reconnecting, "Restarting source after error"));
    const std::vector<OutputStatus> shown = workflow_output_statuses(w);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].number, 1u);
}

TEST_F(ContractTest, AnOutputRefusedOnEveryRetryIsLoggedOnce) {
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    for (int retry = 0; retry < 4; ++retry) {
        on_output_status(&w, output(2, OutputState::connecting, "refused"));
        on_output_status(&w, output(2, OutputState::reconnecting, "refused"));
    }
    const std::string log = workflow_log(w);
    auto count = [&](const std::string& line) {
        size_t n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(std::tuple(count("Output 2 RECONNECTING refused\n"), count("Output 2 CONNECTING\n")), std::tuple(1u, 2u))
        << log;
}

}  // namespace
