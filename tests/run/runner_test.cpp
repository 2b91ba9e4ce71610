// The runner's state paths and run control, driven by fake engines. These
// suites run under ThreadSanitizer too (suites named *Threads carry the label "threads").
#include "run/runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/run_control.h"
#include "support/app_fixture.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using Edit = std::function<void(WorkflowSettings&)>;

constexpr WorkflowType MP4 = WorkflowType::mp4_loop;
constexpr const char* PAGE = "https://www.youtube.com/watch?v=abc";

const Edit DIRECT = [](WorkflowSettings&) {};

// A YouTube page of the given type; poll_seconds 0 asks again at once.
Edit youtube(WorkflowType type, int32_t poll_seconds = 0) {
    return [=](WorkflowSettings& s) {
        s.type = type, s.source_type = SourceType::youtube, s.source = PAGE, s.poll_seconds = poll_seconds;
    };
}

class RunnerThreads : public AppFixture {
  protected:
    // The states `w` reported, without repeats in a row.
    std::string path(const Workflow& w) {
        std::string out, last;
        for (const StatusRecord& record : statuses()) {
            std::string name = workflow_state_name(record.state);
            if (record.id == w.id && name != last) out += (out.empty() ? "" : " ") + name, last = name;
        }
        return out;
    }
    Workflow& started(const Edit& edit) {
        Workflow& w = add_workflow(edit);
        EXPECT_TRUE(workflow_start(w));
        return w;
    }
    bool ended(Workflow& w) {
        return wait_until([&] { return !workflow_runner_alive(w); }, 10000);
    }
    // State, current operation and last error.
    static std::tuple<WorkflowState, std::string, std::string> status(Workflow& w) {
        return {workflow_state(w), workflow_current_operation(w), workflow_last_error(w)};
    }
};

// Each type's states from start to stop, the source its engine got and its
// own log line. An MP4 loop without an overlay flag that ends well is not
// restarted.
TEST_F(RunnerThreads, StatePathsOfEachType) {
    TempDir media;
    const std::string clip = media.file("clip.mp4");
    write_file(clip, "not really");
    fake_ytdlp_page("http://127.0.0.1:9/yt.m3u8", 2);  // upcoming twice, then live
    const Edit mp4 = [&](WorkflowSettings& s) { s.type = MP4, s.source = clip, s.image_x_pct = 40; };  // flags off
    // The edit, the state to stop in (stopped: the run ends by itself), the path, source and log line.
    const std::tuple<Edit, WorkflowState, std::string, std::string, std::string> cases[] = {
        {DIRECT, WorkflowState::streaming, "STARTING RESOLVING STREAMING STOPPED", "http://127.0.0.1:9/live.m3u8",
         "Native HLS/RTMP engine starting\n"},
        {mp4, WorkflowState::stopped, "STARTING STREAMING STOPPED", clip,
         "MP4 packet-copy loop starting (decoder and encoder bypassed)\n"},
        {youtube(WorkflowType::record_then_push), WorkflowState::recording,
         "STARTING RESOLVING WAITING RESOLVING WAITING RESOLVING RECORDING STOPPED", "http://127.0.0.1:9/yt.m3u8",
         "Workflow started\n"},
    };
    for (const auto& [edit, until, states, source, log_line] : cases) {
        SCOPED_TRACE(log_line);
        fake_engines().reset();
        fake_engines().loop = FakeBehavior::end_without_recording;
        Workflow& w = started(edit);
        if (until == WorkflowState::stopped) {
            ASSERT_TRUE(ended(w));
        } else {
            ASSERT_TRUE(wait_for_state(w, until, 10000));
            workflow_stop(&w);
        }
        EXPECT_EQ(path(w), states);
        EXPECT_NE(w.start_tick.load(), 0u);  // kept after the run
        std::vector<FakeEngineCall> calls = fake_engines().calls_copy();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(std::tie(calls[0].source, calls[0].has_overlay), std::tuple(source, false));
        EXPECT_THAT(workflow_log(w), HasSubstr(log_line));
    }
}

// A live that ends loops its recording: an Overlay + Stream workflow with
// its overlays, a hand-edited unknown type (which captured with the overlay
// engine) without them.
TEST_F(RunnerThreads, EndedLiveLoopsItsRecordingWithTheTypesLoopEngine) {
    for (auto [type, loop] : {std::pair{WorkflowType::overlay_stream, "overlay_ts_loop_engine"},
                              {static_cast<WorkflowType>(5), "ts_loop_publisher"}}) {
        SCOPED_TRACE(loop);
        fake_engines().reset();
        fake_engines().capture = FakeBehavior::end_with_recording;
        Workflow& w = started([&](WorkflowSettings& s) { s.type = type; });
        // The capture already reports streaming, so the loop engine's own call is what to wait for.
        ASSERT_TRUE(wait_until([&] { return fake_engines().call_count(loop) == 1; }, 5000));
        workflow_stop(&w);
        std::vector<FakeEngineCall> calls = fake_engines().calls_copy();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(std::tie(calls[0].engine, calls[1].engine, calls[1].source),
                  std::tie("overlay_stream_engine", loop, calls[0].recording_path));
    }
}

// Engine failures are logged with their own words and retried after a pause.
TEST_F(RunnerThreads, FailuresAreRetriedWithTheirOwnLogLines) {
    TempDir media;
    write_file(media.file("clip.MP4"), "not really");
    const Edit mp4_ticker = [&](WorkflowSettings& s) {
        s.type = MP4, s.source = media.file("clip.MP4"), s.text_enabled = true;
    };
    const Edit srt = [](WorkflowSettings& s) { s.source = "srt://127.0.0.1:9"; };
    const Edit long_folder = [&](WorkflowSettings& s) { s.recording_dir = media.file(std::string(240, 'r')); };
    const char* too_long = "The recording path would be longer than 259 characters; choose a shorter recording folder.";
    using enum FakeBehavior;
    // The edit, the capture and loop engines' behaviour, the engine's error text, the log line and last error.
    const std::tuple<Edit, FakeBehavior, FakeBehavior, const char*, const char*, const char*> cases[] = {
        {DIRECT, end_without_recording, stream_until_stop, "",
         "Capture ended without a usable recording, success=1; restarting\n", ""},
        {DIRECT, fail, stream_until_stop, "", "Native engine failed: \n", ""},
        {srt, stream_until_stop, stream_until_stop, "", "Capture failed; restarting source automatically\n", ""},
        {DIRECT, end_with_recording, fail, "MPEG-TS sync byte missing at 188",
         "Loop playback stopped; restarting automatically\n", "MPEG-TS sync byte missing at 188"},
        {long_folder, stream_until_stop, stream_until_stop, "", too_long, too_long},  // refused, never cut
        {mp4_ticker, stream_until_stop, fail, "", "Native MP4 loop failed: Native operation failed\n",
         "Native operation failed"},
    };
    for (const auto& [edit, capture, loop, error_text, log_line, last_error] : cases) {
        SCOPED_TRACE(log_line);
        fake_engines().reset();
        fake_engines().capture = capture, fake_engines().loop = loop, fake_engines().error_text = error_text;
        Workflow& w = started(edit);
        ASSERT_TRUE(wait_for_state(w, WorkflowState::reconnecting, 8000));
        workflow_stop(&w);
        EXPECT_THAT(workflow_log(w), HasSubstr(log_line));
        EXPECT_EQ(workflow_last_error(w), last_error);  // an empty engine text leaves it empty
    }
    EXPECT_TRUE(fake_engines().calls_copy().at(0).has_overlay);  // the ticker
}

TEST_F(RunnerThreads, UnresolvedYoutubePageEndsDirectRestreamInError) {
    fake_ytdlp_page("");
    Workflow& w = started(youtube(WorkflowType::direct_restream));
    ASSERT_TRUE(ended(w));
    EXPECT_EQ(status(w), std::tuple(WorkflowState::error, "Source resolution failed",
                                    "Source resolution failed: yt-dlp exited with code 1: ERROR: Video unavailable"));
    EXPECT_THAT(workflow_log(w), AllOf(HasSubstr("Workflow ended state=ERROR\n"), Not(HasSubstr("Workflow stopped"))));
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
    fake_engines().capture = FakeBehavior::ignore_stop, fake_engines().ignore_stop_ms = 100;  // the source ends soon
    Workflow& w = started(youtube(WorkflowType::direct_restream));
    ASSERT_TRUE(wait_until([&] { return workflow_log(w).find("retrying") != std::string::npos; }, 15000));
    ASSERT_TRUE(wait_for_state(w, WorkflowState::reconnecting, 5000));
    workflow_stop(&w);
    EXPECT_THAT(path(w), Not(HasSubstr("ERROR")));
    EXPECT_EQ(std::get<2>(status(w)), "Source resolution failed: yt-dlp exited with code 1");
    EXPECT_THAT(workflow_log(w),
                HasSubstr("Source resolution failed after streaming (yt-dlp exited with code 1); retrying\n"));
}

TEST_F(RunnerThreads, EveryCaptureAttemptOfARunAddsToOneRecording) {
    fake_engines().capture = FakeBehavior::end_without_recording;
    Workflow& w = started(DIRECT);
    ASSERT_TRUE(wait_until([] { return fake_engines().call_count("hls_to_rtmp_engine") >= 2; }, 15000));
    workflow_stop(&w);
    std::vector<FakeEngineCall> calls = fake_engines().calls_copy();
    EXPECT_EQ(calls.at(1).recording_path, calls.at(0).recording_path);
}

// How promptly is judged end to end; here, what a stop leaves behind.
TEST_F(RunnerThreads, StopEndsWaitsAndPauses) {
    fake_ytdlp_page("", 1 << 30);
    Workflow& waiting = started(youtube(WorkflowType::record_then_push, 600));
    Workflow& pausing = started([](WorkflowSettings& s) { s.source = "srt://127.0.0.1:9"; });
    ASSERT_TRUE(wait_for_state(waiting, WorkflowState::waiting, 10000));
    ASSERT_TRUE(wait_for_state(pausing, WorkflowState::reconnecting, 5000));
    for (Workflow* w : {&waiting, &pausing}) {
        workflow_stop(w);
        EXPECT_EQ(workflow_current_operation(*w), "Stopped");
        EXPECT_THAT(workflow_log(*w), HasSubstr("Workflow stopped\n"));
        EXPECT_FALSE(w->thread);
    }
}

// A start that validation refuses, and a restart after the output was emptied.
TEST_F(RunnerThreads, RefusedStartsEndInErrorWithTheReason) {
    Workflow& w = add_workflow([](WorkflowSettings& s) { s.enabled = false; });
    EXPECT_FALSE(workflow_start(w));
    EXPECT_EQ(status(w), std::tuple(WorkflowState::error, "Validation failed", "This workflow is disabled."));
    EXPECT_EQ(statuses().size(), 1u);
    EXPECT_FALSE(w.thread);
    Workflow& running = started(DIRECT);
    ASSERT_TRUE(wait_for_state(running, WorkflowState::streaming, 5000));
    WorkflowSettings s = workflow_settings_copy(running);
    s.output_url.clear();
    workflow_settings_replace(running, s);
    workflow_restart(running);
    EXPECT_EQ(status(running),
              std::tuple(WorkflowState::error, "Validation failed", "RTMP/RTMPS output URL is required."));
    EXPECT_FALSE(workflow_runner_alive(running));
}

// Another process's run (its lock on the workflow) keeps this one out; a
// run here holds the lock until its runner ends.
TEST_F(RunnerThreads, OneRunPerWorkflowAcrossProcesses) {
    Workflow& w = add_workflow(DIRECT);
    const std::string lock_path = run_lock_path(app_, w.id);
    {
        FileLockPtr other = file_lock_take(lock_path);
        EXPECT_FALSE(workflow_start(w));
        EXPECT_EQ(status(w), std::tuple(WorkflowState::error, "Validation failed",
                                        "This workflow is running in another Veltrona process."));
    }
    ASSERT_TRUE(workflow_start(w));
    EXPECT_TRUE(file_lock_held(lock_path));
    workflow_stop(&w);
    EXPECT_FALSE(file_lock_held(lock_path));
}

TEST_F(RunnerThreads, StopOfANeverStartedWorkflowLeavesTheFlagForTheNextStart) {
    Workflow& w = add_workflow(DIRECT);
    workflow_stop(&w);
    EXPECT_EQ(std::tuple(workflow_state(w), w.stop_requested.load()), std::tuple(WorkflowState::stopped, 1u));
    ASSERT_TRUE(workflow_start(w));
    EXPECT_EQ(w.stop_requested.load(), 0u);
    EXPECT_TRUE(wait_for_state(w, WorkflowState::streaming, 5000));
}

TEST_F(RunnerThreads, RunnerDeafToStopIsLeftBehindSafely) {
    fake_engines().capture = FakeBehavior::ignore_stop, fake_engines().ignore_stop_ms = 6500;
    Workflow& w = started(DIRECT);
    ASSERT_TRUE(wait_until([] { return fake_engines().calls_copy().size() == 1; }, 5000));
    workflow_stop(&w);
    EXPECT_EQ(std::tuple(workflow_state(w), workflow_runner_alive(w)), std::tuple(WorkflowState::stopped, true));
    RunnerThread* runner = w.thread.get();
    EXPECT_TRUE(workflow_start(w));  // while a runner lives, a start adds no second one
    EXPECT_EQ(std::tuple(w.thread.get(), fake_engines().calls_copy().size()), std::tuple(runner, 1u));
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
