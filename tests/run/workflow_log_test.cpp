// Log files: line shape, the 2 MiB rule at its exact boundary, the message
// cut, per-workflow files and a folder that cannot be written.
#include "run/workflow_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/app_context.h"
#include "platform/files/folders.h"
#include "support/temp_dir.h"

namespace {

class WorkflowLog : public ::testing::Test {
  protected:
    void SetUp() override {
        app.logs_dir = dir.path();
        workflow.reset(workflow_create(app));
        workflow->id = 12;
    }
    TempDir dir;
    AppContext app;
    WorkflowPtr workflow;
};

// A line is a 19-character local time, a space, the message and a newline;
// the message is cut to 4095 UTF-16 units (utf16_fit's own tests show the
// cut never splits a character).
TEST_F(WorkflowLog, LinesGoToTheWorkflowsOwnFileCutAndTimestamped) {
    log_workflow(*workflow, "value=%d", 7);
    log_workflow(*workflow, "%s", std::string(5000, 'a').c_str());
    EXPECT_EQ(workflow->log_path, dir.file("workflow-12.log"));
    const std::string time = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ";
    EXPECT_THAT(read_file(workflow->log_path), ::testing::MatchesRegex(time + "value=7\n" + time + "a{4095}\n"));
}

TEST_F(WorkflowLog, ExactlyTwoMebibytesIsAppendedToAndOneByteMoreIsEmptiedFirst) {
    for (long before : {LOG_SIZE_LIMIT, LOG_SIZE_LIMIT + 1}) {
        write_file(dir.file("workflow-12.log"), std::string(before, 'x'));
        log_workflow(*workflow, "line");
        std::string text = read_file(dir.file("workflow-12.log"));
        EXPECT_EQ(static_cast<long>(text.size()), (before == LOG_SIZE_LIMIT ? before : 0) + 20 + 5) << before;
        EXPECT_THAT(text, ::testing::EndsWith(" line\n"));
    }
}

TEST_F(WorkflowLog, UnwritableLogIsDroppedSilently) {
    app.logs_dir = dir.file("missing/folder");
    WorkflowPtr elsewhere(workflow_create(app));
    log_workflow(*elsewhere, "nowhere");
    EXPECT_FALSE(path_exists(dir.file("missing/folder/workflow-0.log")));
}

}  // namespace
