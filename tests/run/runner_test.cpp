// The runner's state paths and run control, driven by fake engines. These
// suites run under ThreadSanitizer too (suites named *Threads carry the label "threads").
#include "run/runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/clock.h"
#include "run/run_control.h"
#include "support/app_fixture.h"

namespace {

using ::testing::HasSubstr;

constexpr WorkflowType OVERLAY = WorkflowType::overlay_stream;
constexpr WorkflowType RECORD = WorkflowType::record_then_push;
constexpr WorkflowType MP4 = WorkflowType::mp4_loop;
constexpr SourceType YOUTUBE = SourceType::youtube;

class RunnerThreads : public AppFixture {
  protected:
    // The states reported from the first STARTING on, without repeats of
    // the same state in a row.
    std::vector<std::string> path() {
        std::vector<std::string> out;
        for (const std::string& name : state_names()) {
            if (out.empty() || out.back() != name) out.push_back(name);
        }
        return out;
    }
};

// Each type's states from start to stop (repeats of a state folded), the
// source its engine got and its own log line.
TEST_F(RunnerThreads, StatePathsOfEachType) {
    TempDir media;
    write_file(media.file("clip.mp4"), "not really");
    fake_ytdlp_page("http://127.0.0.1:9/yt.m3u8", 2);  // upcoming twice, then live
    struct Case {
        std::function<void(WorkflowSettings&)> edit;
        WorkflowState until;  // stopped: the run ends by itself
        std::vector<std::string> path;
        std::string source, log_line;
    };
    const Case cases[] = {
        {[](WorkflowSettings&) {}, WorkflowState::streaming, {"STARTING", "RESOLVING", "STREAMING", "STOPPED"},
         "http://127.0.0.1:9/live.m3u8", "Native HLS/RTMP engine starting\n"},
        // Overlay fields set but both overlay flags off; a loop that ends well is not restarted.
        {[&](WorkflowSettings& s) {
             s.type = MP4;
             s.source = media.file("clip.mp4");
             s.image_x_pct = 40;
         },
         WorkflowState::stopped, {"STARTING", "STREAMING", "STOPPED"}, media.file("clip.mp4"),
         "MP4 packet-copy loop starting (decoder and encoder bypassed)\n"},
        // poll_seconds 0 asks again at once.
        {[](WorkflowSettings& s) {
             s.type = RECORD;
             s.source_type = YOUTUBE;
             s.source = "https://www.youtube.com/watch?v=abc";
             s.poll_seconds = 0;
         },
         WorkflowState::recording,
         {"STARTING", "RESOLVING", "WAITING", "RESOLVING", "WAITING", "RESOLVING", "RECORDING", "STOPPED"},
         "http://127.0.0.1:9/yt.m3u8", "Workflow started\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log_line);
        fake_engines().reset();
        fake_engines().loop = FakeBehavior::end_without_recording;
        {
            std::lock_guard guard(lock_);
            statuses_.clear();
        }
        Workflow& w = add_workflow(c.edit);
        ASSERT_TRUE(workflow_start(w));
        if (c.until == WorkflowState::stopped) {
            ASSERT_TRUE(wait_until([&] { return !workflow_runner_alive(w); }, 5000));
        } else {
            ASSERT_TRUE(wait_for_state(w, c.until, 10000));
            workflow_stop(&w);
        }
        EXPECT_EQ(path(), c.path);
        EXPECT_NE(w.start_tick.load(), 0u);  // kept after the run
        std::vector<FakeEngineCall> calls = fake_engines().calls_copy();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].source, c.source);
        EXPECT_FALSE(calls[0].has_overlay);
        EXPECT_THAT(workflow_log(w), HasSubstr(c.log_line));
    }
}

TEST_F(RunnerThreads, EndedLiveWithRecordingLoopsItThroughTheMatchingLoopEngine) {
    struct Case {
        WorkflowType type;
        const char* capture_engine;
        const char* loop_engine;
    };
    for (const Case& c : {Case{WorkflowType::direct_restream, "hls_to_rtmp_engine", "ts_loop_publisher"},
                          Case{OVERLAY, "overlay_stream_engine", "overlay_ts_loop_engine"},
                          Case{RECORD, "hls_to_ts_recorder", "ts_loop_publisher"},
                          Case{static_cast<WorkflowType>(5), "overlay_stream_engine", "ts_loop_publisher"}}) {
        SCOPED_TRACE(static_cast<int>(c.type));
        fake_engines().reset();
        fake_engines().capture = FakeBehavior::end_with_recording;
        Workflow& w = add_workflow([&](WorkflowSettings& s) { s.type = c.type; });
        ASSERT_TRUE(workflow_start(w));
        ASSERT_TRUE(wait_for_state(w, WorkflowState::streaming, 5000));
        workflow_stop(&w);
        std::vector<FakeEngineCall> calls = fake_engines().calls_copy();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].engine, c.capture_engine);
        EXPECT_EQ(calls[1].engine, c.loop_engine);
        EXPECT_EQ(calls[1].source, calls[0].recording_path);
    }
    std::vector<std::string> names = state_names();
    auto live_ended = std::find(names.begin(), names.end(), "LIVE ENDED");
    ASSERT_NE(live_ended, names.end());
    EXPECT_EQ(*(live_ended + 1), "STARTING PLAYBACK");
    EXPECT_EQ(*(live_ended + 2), "PLAYING");
}

TEST_F(RunnerThreads, LoopEngineReturnIsRetriedAfterThreeSeconds) {
    fake_engines().capture = FakeBehavior::end_with_recording;
    fake_engines().loop = FakeBehavior::fail;
    fake_engines().error_text = "MPEG-TS sync byte missing at 188";
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_until([] { return fake_engines().call_count("ts_loop_publisher") >= 2; }, 8000));
    workflow_stop(&w);
    EXPECT_EQ(workflow_last_error(w), "MPEG-TS sync byte missing at 188");
    std::string log = workflow_log(w);
    EXPECT_THAT(log, HasSubstr("Native loop publisher failed: MPEG-TS sync byte missing at 188\n"));
    EXPECT_THAT(log, HasSubstr("Loop playback stopped; restarting automatically\n"));
    EXPECT_THAT(path(), ::testing::Contains("RECONNECTING"));
}

TEST_F(RunnerThreads, CaptureFailuresAreRetriedWithTheirOwnLogLines) {
    struct Case {
        FakeBehavior capture;
        const char* source;
        const char* log_line;
        size_t engine_calls;
    };
    for (const Case& c : {Case{FakeBehavior::end_without_recording, "http://127.0.0.1:9/a.m3u8",
                               "Capture ended without a usable recording, success=1; restarting\n", 1},
                          Case{FakeBehavior::fail, "http://127.0.0.1:9/a.m3u8", "Native engine failed: \n", 1},
                          Case{FakeBehavior::stream_until_stop, "srt://127.0.0.1:9",
                               "Capture failed; restarting source automatically\n", 0}}) {
        fake_engines().reset();
        fake_engines().capture = c.capture;
        Workflow& w = add_workflow([&](WorkflowSettings& s) { s.source = c.source; });
        ASSERT_TRUE(workflow_start(w));
        ASSERT_TRUE(wait_for_state(w, WorkflowState::reconnecting, 5000));
        workflow_stop(&w);
        EXPECT_THAT(workflow_log(w), HasSubstr(c.log_line));
        EXPECT_EQ(fake_engines().calls_copy().size(), c.engine_calls);
        EXPECT_EQ(workflow_last_error(w), "");  // an empty engine text leaves it empty
    }
}

TEST_F(RunnerThreads, Mp4LoopWithTextOverlayGetsSettingsAndRetriesFailures) {
    TempDir media;
    write_file(media.file("clip.MP4"), "not really");
    fake_engines().loop = FakeBehavior::fail;
    Workflow& w = add_workflow([&](WorkflowSettings& s) {
        s.type = MP4;
        s.source = media.file("clip.MP4");
        s.text_enabled = true;
    });
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_for_state(w, WorkflowState::reconnecting, 5000));
    workflow_stop(&w);
    EXPECT_TRUE(fake_engines().calls_copy().at(0).has_overlay);
    EXPECT_EQ(workflow_last_error(w), "Native operation failed");
    EXPECT_THAT(workflow_log(w), HasSubstr("Native MP4 loop failed: Native operation failed\n"));
}

TEST_F(RunnerThreads, UnresolvedYoutubePageEndsDirectRestreamInError) {
    fake_ytdlp_page("");
    Workflow& w = add_workflow([](WorkflowSettings& s) {
        s.source_type = YOUTUBE;
        s.source = "https://youtu.be/abc";
    });
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_until([&] { return !workflow_runner_alive(w); }, 10000));
    EXPECT_EQ(workflow_state(w), WorkflowState::error);
    EXPECT_EQ(workflow_current_operation(w), "Source resolution failed");
    std::string log = workflow_log(w);
    EXPECT_THAT(log, HasSubstr("Workflow ended state=ERROR\n"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("Workflow stopped")));
    EXPECT_TRUE(fake_engines().calls_copy().empty());

    // A new start after that end closes the old handle and runs again.
    fake_ytdlp_page("http://127.0.0.1:9/yt.m3u8");
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_for_state(w, WorkflowState::streaming, 10000));
}

TEST_F(RunnerThreads, OnceStreamedAFailedResolutionIsRetriedNotAnError) {
    // The page resolves once; every later resolution fails.
    fake_ytdlp(
        "n=$(cat \"$0.count\" 2>/dev/null || echo 0); n=$((n+1)); echo $n > \"$0.count\"\n"
        "if [ $n -ge 2 ]; then exit 1; fi\n"
        "echo ZQ_STATUS:is_live; echo http://127.0.0.1:9/yt.m3u8");
    fake_engines().capture = FakeBehavior::ignore_stop;  // streams a moment, then the source ends
    fake_engines().ignore_stop_ms = 100;
    Workflow& w = add_workflow([](WorkflowSettings& s) {
        s.source_type = YOUTUBE;
        s.source = "https://youtu.be/abc";
    });
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_until([&] { return workflow_log(w).find("retrying") != std::string::npos; }, 15000));
    ASSERT_TRUE(wait_for_state(w, WorkflowState::reconnecting, 5000));
    workflow_stop(&w);
    std::vector<std::string> states = path();
    EXPECT_EQ(std::find(states.begin(), states.end(), "ERROR"), states.end());
    EXPECT_EQ(workflow_last_error(w), "Source resolution failed");
    EXPECT_THAT(workflow_log(w), HasSubstr("Source resolution failed after streaming; retrying\n"));
}

TEST_F(RunnerThreads, EveryCaptureAttemptOfARunAddsToOneRecording) {
    fake_engines().capture = FakeBehavior::end_without_recording;
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_until([] { return fake_engines().call_count("hls_to_rtmp_engine") >= 2; }, 15000));
    workflow_stop(&w);
    std::vector<FakeEngineCall> calls = fake_engines().calls_copy();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[1].recording_path, calls[0].recording_path);
}

TEST_F(RunnerThreads, StopEndsWaitsAndPausesPromptly) {
    fake_ytdlp_page("", 1 << 30);
    Workflow& waiting = add_workflow([](WorkflowSettings& s) {
        s.type = RECORD;
        s.source_type = YOUTUBE;
        s.source = "https://www.youtube.com/watch?v=abc";
        s.poll_seconds = 600;
    });
    Workflow& pausing = add_workflow([](WorkflowSettings& s) { s.source = "srt://127.0.0.1:9"; });
    ASSERT_TRUE(workflow_start(waiting));
    ASSERT_TRUE(workflow_start(pausing));
    ASSERT_TRUE(wait_for_state(waiting, WorkflowState::waiting, 10000));
    ASSERT_TRUE(wait_for_state(pausing, WorkflowState::reconnecting, 5000));
    for (Workflow* w : {&waiting, &pausing}) {
        uint64_t began = tick_ms();
        workflow_stop(w);
        EXPECT_LT(tick_ms() - began, 1000u);  // a 100 ms slice, not the whole pause
        EXPECT_EQ(workflow_current_operation(*w), "Stopped");
        EXPECT_THAT(workflow_log(*w), HasSubstr("Workflow stopped\n"));
        EXPECT_FALSE(w->thread);
    }
}

TEST_F(RunnerThreads, StartOnARunningWorkflowChangesNothing) {
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_for_state(w, WorkflowState::streaming, 5000));
    RunnerThread* runner = w.thread.get();
    EXPECT_TRUE(workflow_start(w));
    EXPECT_EQ(w.thread.get(), runner);
    EXPECT_EQ(fake_engines().calls_copy().size(), 1u);
}

TEST_F(RunnerThreads, InvalidStartIsRefusedWithTheReason) {
    Workflow& w = add_workflow([](WorkflowSettings& s) { s.enabled = false; });
    EXPECT_FALSE(workflow_start(w));
    EXPECT_EQ(workflow_state(w), WorkflowState::error);
    EXPECT_EQ(workflow_current_operation(w), "Validation failed");
    EXPECT_EQ(workflow_last_error(w), "This workflow is disabled.");
    EXPECT_EQ(statuses().size(), 1u);
    EXPECT_FALSE(w.thread);
}

TEST_F(RunnerThreads, StopOfANeverStartedWorkflowLeavesTheFlagForTheNextStart) {
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    workflow_stop(&w);
    EXPECT_EQ(workflow_state(w), WorkflowState::stopped);
    EXPECT_EQ(w.stop_requested.load(), 1u);
    ASSERT_TRUE(workflow_start(w));
    EXPECT_EQ(w.stop_requested.load(), 0u);
    EXPECT_TRUE(wait_for_state(w, WorkflowState::streaming, 5000));
}

TEST_F(RunnerThreads, RestartWithEmptiedOutputEndsInError) {
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_for_state(w, WorkflowState::streaming, 5000));
    WorkflowSettings s = workflow_settings_copy(w);
    s.output_url.clear();
    workflow_settings_replace(w, s);
    workflow_restart(w);
    EXPECT_EQ(workflow_state(w), WorkflowState::error);
    EXPECT_EQ(workflow_last_error(w), "RTMP/RTMPS output URL is required.");
    EXPECT_FALSE(workflow_runner_alive(w));
}

TEST_F(RunnerThreads, RunnerDeafToStopIsLeftBehindSafely) {
    fake_engines().capture = FakeBehavior::ignore_stop;
    fake_engines().ignore_stop_ms = 6500;
    Workflow& w = add_workflow([](WorkflowSettings&) {});
    ASSERT_TRUE(workflow_start(w));
    ASSERT_TRUE(wait_until([] { return fake_engines().calls_copy().size() == 1; }, 5000));
    uint64_t began = tick_ms();
    workflow_stop(&w);
    EXPECT_GE(tick_ms() - began, STOP_WAIT_MS - 100);
    EXPECT_EQ(workflow_state(w), WorkflowState::stopped);
    EXPECT_TRUE(workflow_runner_alive(w));
    EXPECT_TRUE(workflow_start(w));  // no second runner
    EXPECT_EQ(fake_engines().calls_copy().size(), 1u);
    // Deleting it now must not free the record under the runner, which still
    // reports status when its engine finally returns (ASan watches this).
    std::string log_path = app_.logs_dir + "/workflow-" + std::to_string(w.id) + ".log";
    Workflow* raw = app_.workflows.back().release();
    app_.workflows.pop_back();
    {
        std::lock_guard guard(lock_);
        by_id_.erase(raw->id);
    }
    workflow_destroy(raw);
    // Its last use of the context is that log line; the record goes after it.
    EXPECT_TRUE(wait_until([&] { return read_file(log_path).find("Workflow stopped") != std::string::npos; }, 5000));
    EXPECT_EQ(fake_engines().calls_copy().size(), 1u);
}

}  // namespace
