// The outputs of a workflow as a run numbers them and tells their news.
#include "workflow/workflow.h"

#include <gtest/gtest.h>

namespace {

TEST(WorkflowOutputs, PlacesCountDisabledOutputsSoNumbersNeverMove) {
    WorkflowSettings s;
    s.extra_outputs = {{"rtmp://b/live/k2", false}, {"rtmp://c/live/k3", true}, {"rtmp://d/live/k4", true}};
    EXPECT_EQ(workflow_more_output_urls(s), (std::vector<std::string>{"rtmp://c/live/k3", "rtmp://d/live/k4"}));
    EXPECT_EQ(workflow_output_places(s), (std::vector<size_t>{1, 3, 4}));
    s.extra_outputs.clear();
    EXPECT_EQ(workflow_output_places(s), std::vector<size_t>{1});
}

// A refused output retried every few seconds is told once, and its first
// retry; a new error, a connection and a repeat after it are told again.
TEST(WorkflowOutputs, AnOutputFailingTheSameWayIsToldOnce) {
    constexpr OutputState CONNECTING = OutputState::connecting, CONNECTED = OutputState::connected,
                          RECONNECTING = OutputState::reconnecting;
    const std::tuple<OutputState, const char*, bool> steps[] = {
        {CONNECTING, "", true},
        {RECONNECTING, "refused", true},
        {CONNECTING, "refused", true},
        {RECONNECTING, "refused", false},
        {CONNECTING, "refused", false},
        {RECONNECTING, "refused", false},
        {RECONNECTING, "timed out", true},
        {CONNECTING, "timed out", true},
        {CONNECTED, "timed out", true},
        {CONNECTED, "timed out", false},
        {RECONNECTING, "timed out", true},
        {CONNECTING, "timed out", true},
        {CONNECTING, "timed out", false},
    };
    OutputTold told;
    for (size_t at = 0; at < std::size(steps); ++at) {
        const auto& [state, error, news] = steps[at];
        EXPECT_EQ(output_status_news(told, {.number = 2, .state = state, .since_ms = 0, .last_error = error}), news)
            << "step " << at;
    }
}

}  // namespace
