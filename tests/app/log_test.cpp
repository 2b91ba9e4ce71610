// Log files: line shape, the 2 MiB rule at its exact boundary, the message
// cut and per-workflow files. Engine errors are reported in the runner tests.
#include "app/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "app/app_context.h"
#include "platform/folders.h"
#include "support/temp_dir.h"

namespace {

class LogTest : public ::testing::Test {
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

TEST_F(LogTest, WorkflowLinesGoToItsOwnFileWithALocalTimestamp) {
    log_workflow(*workflow, "Workflow started");
    log_workflow(*workflow, "value=%d", 7);
    EXPECT_EQ(workflow->log_path, dir.file("workflow-12.log"));
    std::string text = read_file(dir.file("workflow-12.log"));
    EXPECT_TRUE(std::regex_match(text, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d Workflow started\n"
                                                  "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d value=7\n")))
        << text;
}

// A line is a 19-character local time, a space, the message and a newline.
TEST_F(LogTest, FileOfExactlyTwoMebibytesIsAppendedToAndOneByteMoreIsEmptiedFirst) {
    std::string path = dir.file("application.log");
    for (long before : {LOG_SIZE_LIMIT, LOG_SIZE_LIMIT + 1}) {
        write_file(path, std::string(before, 'x'));
        log_app(app, "line");
        std::string text = read_file(path);
        EXPECT_EQ(static_cast<long>(text.size()), (before == LOG_SIZE_LIMIT ? before : 0) + 20 + 5) << before;
        EXPECT_THAT(text, ::testing::EndsWith(" line\n"));
    }
}

// The cut counts UTF-16 units and never splits a character (utf16_fit's own tests).
TEST_F(LogTest, LongMessagesAreCutTo4095Units) {
    log_workflow(*workflow, "%s", std::string(5000, 'a').c_str());
    std::string line = read_file(workflow->log_path);
    EXPECT_EQ(line.size(), 20u + 4095u + 1u);
}

TEST_F(LogTest, UnwritableLogIsDroppedSilently) {
    app.logs_dir = dir.file("missing/folder");
    log_app(app, "nowhere");  // must not fail or create anything
    EXPECT_FALSE(path_exists(dir.file("missing/folder/application.log")));
}

}  // namespace
