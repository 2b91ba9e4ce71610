// veltrona-cli in process: add, list, check, edit, delete and run on a temp
// data folder. (The status lines of a run, their masked keys and the end
// after --seconds are read by every end-to-end test, in tests/e2e.)
#include "cli/cli.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <sstream>

#include "app/config_watch.h"
#include "platform/files/file_lock.h"
#include "platform/files/folders.h"
#include "run/status_file.h"
#include "support/app_fixture.h"
#include "support/fake_engines.h"
#include "support/wait.h"
#include "workflow/config.h"

namespace {

using ::testing::HasSubstr;

struct CliResult {
    int code;
    std::string out, err;
};

MATCHER_P3(Result, code, out, err, "") {
    return arg.code == code && arg.out == out && arg.err == err;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { fake_engines().reset(); }
    // veltrona-cli with the words of `line`, then `more` (values with spaces).
    int cli_code(const std::string& line, std::vector<std::string> more = {}) {
        std::istringstream words(line);
        std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        args.insert(args.begin(), {"veltrona-cli", "--data-dir", dir.path()});
        args.insert(args.end(), more.begin(), more.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        return cli_main(static_cast<int>(argv.size()), argv.data(), &fake_engine_table());
    }
    CliResult cli(const std::string& line, std::vector<std::string> more = {}) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int code = cli_code(line, std::move(more));
        std::string out = ::testing::internal::GetCapturedStdout();
        return {code, out, ::testing::internal::GetCapturedStderr()};
    }
    const std::string ADD = "add --type direct --source-type direct --source http://127.0.0.1:9/live.m3u8 --output ";
    CliResult add_direct(const std::string& name, const std::string& output = "rtmp://127.0.0.1:9/live/SECRET") {
        return cli(ADD + output, {"--name", name});
    }
    TempDir dir;
};

TEST_F(CliTest, AddListAndCheck) {
    EXPECT_THAT(add_direct("Main show"), Result(0, "1\n", ""));
    EXPECT_THAT(cli("add --type record --name Later --source https://youtu.be/abc --output rtmps://127.0.0.1/app/KEY2 "
                    "--poll-seconds 3"),
                Result(0, "2\n", ""));
    EXPECT_THAT(cli("list"), Result(0,
                                    "1\tMain show\tDirect\tDirect\tSTOPPED\trtmp://127.0.0.1:9/live/********\n"
                                    "2\tLater\tRecord/Push\tYouTube\tSTOPPED\trtmps://127.0.0.1/app/********\n",
                                    ""));
    EXPECT_THAT(read_file(dir.file("config.tsv")), HasSubstr("\t15\t5\t0\t1\t1\t50\t"));  // poll 3 -> 15
    EXPECT_THAT(cli("check 1"), Result(0, "Workflow 1 is ready to run.\n", ""));
}

TEST_F(CliTest, AddRefusesWithTheEditorsWordsAndSavesNothing) {
    EXPECT_THAT(
        add_direct("Main", "rtmp://127.0.0.1:9"),
        Result(1, "",
               "Invalid output URL: Enter a complete RTMP or RTMPS output URL, including its application/path.\n"));
    EXPECT_FALSE(path_exists(dir.file("config.tsv")));
    EXPECT_EQ(cli("add --type direct --name x").code, 2);
    EXPECT_EQ(cli("add --type stream --name x --source s --output o").code, 2);
    EXPECT_EQ(add_direct("Main").out, "1\n");  // the refused one did not use up an id
}

// A yt-dlp that passes the version probe but cannot resolve anything.
TEST_F(CliTest, RunThatEndsByItselfInErrorExitsOne) {
    ASSERT_EQ(cli("add --type direct --name yt --source https://youtu.be/abc --output rtmp://h/a/k").code, 0);
    ASSERT_EQ(cli("add --type direct --name off --source https://youtu.be/x --output rtmp://h/a/k --enabled no").code,
              0);
    const std::string bin = dir.file("bin");
    ASSERT_TRUE(ensure_directory(bin));
    write_file(bin + "/yt-dlp", fake_ytdlp_script("", 0), 0755);
    ScopedEnv path("PATH", bin);
    CliResult run = cli("run --seconds 20 --all");  // the disabled #2 is left out
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr(" #1 ERROR Source resolution failed\n"));
}

TEST_F(CliTest, CheckAndRunRefuseWorkflowsThatCannotStart) {
    ASSERT_EQ(add_direct("Main").code, 0);
    ASSERT_EQ(cli("edit 1 --enabled no").code, 0);
    EXPECT_THAT(cli("check 1"), Result(1, "This workflow is disabled.\n", ""));
    CliResult run = cli("run --seconds 1 1");
    EXPECT_EQ(run.code, 2);
    EXPECT_THAT(run.out, HasSubstr("#1 cannot start: This workflow is disabled.\n"));
    for (const char* line : {"check 9", "run 7", "run", "run --all", "run --all 1", "fly"})
        EXPECT_EQ(cli(line).code, 2) << line;
}

// Every option the editor has, and the command line's own refusals; the
// editor's save checks are tested once, in tests/workflow.
TEST_F(CliTest, EditTakesEveryEditorField) {
    ASSERT_EQ(add_direct("Main").code, 0);
    std::string image = dir.file("logo.png");
    write_file(image, "png");
    ASSERT_EQ(cli("edit 1 --type overlay --image-x 99 --image-y 0 --image-scale 50 --text-bottom 5 --font-size 28 "
                  "--scroll-speed 200 --text-color #ff0000 --background-color #0000FF --bitrate 4M --enabled no "
                  "--reconnects 7 --image " +
                      image,
                  {"--text", "Breaking news", "--encoder", "Software H.264"})
                  .code,
              0);
    const std::pair<const char*, const char*> usage_errors[] = {
        {"--image-x 100", "--image-x takes a whole number from 0 to 99"},
        {"--scroll-speed 15", "--scroll-speed takes 10, 20, ... 200"},
        {"--encoder NVENC", "--encoder takes"},
        {"--text-enabled maybe", "--text-enabled takes yes or no"},
        {"--frobnicate 1", "unknown option --frobnicate"},
        {"--text x --name", "--name is missing its value"},
    };
    for (const auto& [options, complaint] : usage_errors) {
        CliResult result = cli(std::string("edit 1 ") + options);
        EXPECT_EQ(result.code, 2) << options;
        EXPECT_THAT(result.err, HasSubstr(complaint));
    }
    EXPECT_EQ(cli("edit 1 --text-color red").err, "Invalid text color: Enter the text color as #RRGGBB.\n");
    // Only the first edit was saved: every refusal left the file as it was.
    AppContext saved;
    saved.config_path = dir.file("config.tsv");
    ASSERT_EQ(config_load(saved), ConfigLoad::loaded);
    ASSERT_EQ(saved.workflows.size(), 1u);
    const WorkflowSettings& s = saved.workflows[0]->settings;
    EXPECT_EQ(std::tie(s.type, s.image_enabled, s.image_path, s.image_x_pct, s.image_y_pct, s.image_scale_pct),
              std::make_tuple(WorkflowType::overlay_stream, true, image, 99, 0, 50));
    EXPECT_EQ(std::tie(s.text, s.text_bottom_pct, s.font_size, s.scroll_speed),
              std::make_tuple("Breaking news", 5, 28, 200));
    EXPECT_EQ(std::tie(s.text_color, s.background_color), std::make_tuple(0x0000FFu, 0xFF0000u));  // as 0x00BBGGRR
    EXPECT_EQ(std::tie(s.bitrate, s.encoder, s.enabled, s.reconnects),
              std::make_tuple("4M", "Software H.264", false, 7));
    for (const char* line : {"edit 9 --name x", "edit 1"}) EXPECT_EQ(cli(line).code, 2) << line;
}

// Outputs are numbered as listed: 1 is the first --output, which cannot be
// switched off; an edit's --output replaces them all.
TEST_F(CliTest, OutputsAreRepeatableNumberedAndListedMasked) {
    ASSERT_EQ(add_direct("Main", "rtmp://a/live/K1 --output rtmp://b/live/K2 --output rtmp://c/live/K3").code, 0);
    EXPECT_EQ(cli("edit 1 --disable-output 3 --remove-output 1 --add-output rtmp://d/live/K4").code, 0);
    EXPECT_EQ(cli("list").out,
              "1\tMain\tDirect\tDirect\tSTOPPED\trtmp://b/live/********\trtmp://c/live/******** (disabled)"
              "\trtmp://d/live/********\n");
    EXPECT_THAT(cli("edit 1 --add-output RTMP://B/live/K2").err, HasSubstr("Two outputs have the same URL."));
    EXPECT_THAT(cli("edit 1 --disable-output 1").err, HasSubstr("--disable-output takes an output number from 2 to 3"));
    EXPECT_THAT(cli("edit 1 --remove-output 1 --remove-output 1").err, HasSubstr("needs an enabled output 2"));
    EXPECT_EQ(cli("edit 1 --output rtmp://e/live/K5").code, 0);
    EXPECT_THAT(cli("list").out, HasSubstr("\trtmp://e/live/********\n"));
}

TEST_F(CliTest, DeleteRefusesAWorkflowThatARunHolds) {
    ASSERT_EQ(add_direct("Main").code, 0);
    ASSERT_EQ(add_direct("Second").code, 0);
    {
        FileLockPtr running = file_lock_take(dir.file("workflow-1.running"));  // as `run` holds it
        ASSERT_TRUE(running);
        EXPECT_THAT(cli("delete 1"), Result(1, "", "Stop the workflow before deleting it.\n"));
        CliResult second_run = cli("run --seconds 1 1");
        EXPECT_EQ(second_run.code, 2);
        EXPECT_THAT(second_run.out,
                    HasSubstr("#1 cannot start: This workflow is running in another Veltrona process."));
    }
    EXPECT_EQ(cli("delete 1").code, 0);
    EXPECT_THAT(cli("list").out, ::testing::StartsWith("2\tSecond\t"));
    EXPECT_EQ(cli("delete 1").code, 2);
}

// A running workflow takes the overlay fields of a saved edit, and only
// those, also of one saved while it was starting.
TEST_F(CliTest, ConfigWatchAppliesSavedOverlayFieldsThroughTheRevision) {
    ASSERT_EQ(add_direct("Main").code, 0);
    AppContext running;
    running.config_path = dir.file("config.tsv");
    ASSERT_EQ(config_load(running), ConfigLoad::loaded);
    Workflow& workflow = *running.workflows[0];
    ASSERT_EQ(cli("edit 1 --background-color #00FF00 --name Renamed", {"--text", "New ticker"}).code, 0);
    ConfigWatch watch;
    config_watch_start(watch, running.config_path);
    auto poll = [&] { return watch.next_check_ms = 0, config_watch_poll(watch, {&workflow}); };  // due at once
    EXPECT_EQ(poll().updated, std::vector<uint32_t>{1});
    WorkflowSettings s = workflow_settings_copy(workflow);
    EXPECT_EQ(std::tie(s.text, s.background_color, s.name),
              std::make_tuple("New ticker", 0x00FF00u, "Main"));  // the name waits for the next run
    EXPECT_EQ(workflow.revision.load(), 1u);
    EXPECT_TRUE(poll().updated.empty());  // nothing new saved
    ASSERT_EQ(cli("edit 1 --name Again").code, 0);
    EXPECT_TRUE(poll().updated.empty());  // saved, but no overlay change
    // A folder in its place: the run goes on, a new command says why it stops.
    ASSERT_TRUE(std::filesystem::remove(running.config_path) && ensure_directory(running.config_path));
    EXPECT_TRUE(poll().unreadable);
    EXPECT_EQ(workflow.revision.load(), 1u);
    EXPECT_THAT(cli("list"), Result(1, "", running.config_path + " cannot be read: Is a directory\n"));
}

// Changes from many processes at once: each that reported success is in
// the file, ids stay unique, and nothing else is lost.
TEST_F(CliTest, ChangesFromManyProcessesAtOnceAreAllKept) {
    for (const char* name : {"Kept", "Edited", "Deleted"}) ASSERT_EQ(add_direct(name).code, 0);
    constexpr int ADDS = 16;
    std::vector<pid_t> children;
    for (int i = 0; i < ADDS + 2; ++i) {
        std::fflush(nullptr);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid > 0) {
            children.push_back(pid);
            continue;
        }
        const int out = open(dir.file("out-" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        const std::string output = "rtmp://127.0.0.1:9/live/K" + std::to_string(i);
        const int code = i == ADDS       ? cli_code("edit 2", {"--name", "Renamed"})
                         : i == ADDS + 1 ? cli_code("delete 3")
                                         : cli_code(ADD + output, {"--name", "P" + std::to_string(i)});
        std::fflush(nullptr);
        _exit(code);
    }
    std::map<uint32_t, std::string> reported;  // id -> name, from the adds that succeeded
    for (int i = 0; i < ADDS + 2; ++i) {
        int status = -1;
        ASSERT_TRUE(wait_until([&] { return waitpid(children[i], &status, WNOHANG) == children[i]; }, 60000));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << i;
        if (i < ADDS) reported[std::stoul(read_file(dir.file("out-" + std::to_string(i))))] = "P" + std::to_string(i);
    }
    reported[1] = "Kept", reported[2] = "Renamed";
    AppContext saved;
    saved.config_path = dir.file("config.tsv");
    ASSERT_EQ(config_load(saved), ConfigLoad::loaded);
    std::map<uint32_t, std::string> found;
    for (const WorkflowPtr& w : saved.workflows) EXPECT_TRUE(found.emplace(w->id, w->settings.name).second) << w->id;
    EXPECT_EQ(found, reported);
}

// `status` reads what a running `run` writes each second, masked, and says
// when no run writes it; `--stats` prints a summary line every N seconds.
TEST_F(CliTest, StatusShowsARunningRunsFiguresAndStatsSummarisesThem) {
    ASSERT_EQ(add_direct("Main").code, 0);
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int out = open(dir.file("run-out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        const int code = cli_code("run --seconds 4 --stats 1 1");
        std::fflush(nullptr);
        _exit(code);
    }
    CliResult shown;
    // The first files may come before the engine has streamed.
    EXPECT_TRUE(wait_until(
        [&] { return (shown = cli("status 1")).out.find(" 1 segments, 0 failed") != std::string::npos; }, 10000));
    EXPECT_EQ(shown.code, 0);
    EXPECT_THAT(shown.out, HasSubstr("#1 Main: STREAMING, Fake engine working, up "));
    EXPECT_THAT(shown.out, HasSubstr("behind the live edge 4.0 s, 0 retries\n"));
    const std::string file = read_file(dir.file("status/workflow-1.status"));
    EXPECT_THAT(file, HasSubstr("\nsource.latency_ms=4000\n"));
    EXPECT_EQ(file.find("SECRET"), std::string::npos);
    EXPECT_EQ(std::filesystem::status(dir.file("status/workflow-1.status")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    int status = -1;
    ASSERT_TRUE(wait_until([&] { return waitpid(child, &status, WNOHANG) == child; }, 20000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string out = read_file(dir.file("run-out"));
    size_t lines = 0;
    for (size_t at = 0; (at = out.find(" #1 STREAMING in ", at)) != std::string::npos; ++at) ++lines;
    EXPECT_GE(lines, 2u) << out;
    EXPECT_THAT(out, HasSubstr(" outputs 0/0 up, "));

    EXPECT_THAT(cli("status 1"), Result(1, "Workflow 1 is not running in a veltrona-cli run.\n", ""));
    EXPECT_FALSE(path_exists(dir.file("status/workflow-1.status")));  // the run took it away
    // A file left behind by a run that died, under a lock someone holds, is stale by its stamp.
    FileLockPtr running = file_lock_take(dir.file("workflow-1.running"));
    write_file(dir.file("status/workflow-1.status"), "id=1\nstate=STREAMING\nwritten_ms=1000\n", 0600);
    EXPECT_THAT(cli("status"), Result(0, "No workflow of this data folder is running in a veltrona-cli run.\n", ""));
}

}  // namespace
