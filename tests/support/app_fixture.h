// An AppContext in a temp data folder, with the fake engines, a fake tools/
// folder for yt-dlp, and a notifier that records every status change as
// (id, state) at the moment it was reported.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "support/fake_engines.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "workflow/workflow.h"

// A stand-in yt-dlp (a shell script): "--version" always succeeds; other
// calls, counted in "calls" beside it, answer that the page's live is
// upcoming for the first `upcoming` of them, then that it plays at
// `stream_url` (or fail, when that is empty), and at `later_url` from the
// call after that on, when one is given (a signed URL renewed).
std::string fake_ytdlp_script(const std::string& stream_url, int upcoming, const std::string& later_url = "");

struct StatusRecord {
    uint32_t id, state;
};

class AppFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A workflow appended to the table, with settings changed by `edit`.
    Workflow& add_workflow(const std::function<void(WorkflowSettings&)>& edit);
    void fake_ytdlp_page(const std::string& stream_url, int upcoming = 0) {
        write_file(app_.program_dir + "/tools/yt-dlp", fake_ytdlp_script(stream_url, upcoming), 0755);
    }
    // A yt-dlp running the test's own script body; "--version" always succeeds.
    void fake_ytdlp(const std::string& body) {
        write_file(app_.program_dir + "/tools/yt-dlp",
                   "#!/bin/sh\nif [ \"$1\" = --version ]; then echo 2023.03.04; exit 0; fi\n" + body + "\n", 0755);
    }

    std::vector<StatusRecord> statuses() {
        std::lock_guard guard(lock_);
        return statuses_;
    }
    bool wait_for_state(Workflow& workflow, WorkflowState state, uint32_t timeout_ms) {
        return wait_until([&] { return workflow_state(workflow) == state; }, timeout_ms);
    }
    std::string workflow_log(const Workflow& workflow) {
        return read_file(app_.logs_dir + "/workflow-" + std::to_string(workflow.id) + ".log");
    }

    TempDir dir_;
    AppContext app_;
    std::mutex lock_;
    std::vector<StatusRecord> statuses_;
    std::map<uint32_t, Workflow*> by_id_;  // under lock_; what the notifier may read
};
