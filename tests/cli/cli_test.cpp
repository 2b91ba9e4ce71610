// veltrona-cli in process: add, list, check and run on a temp data folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "platform/folders.h"
#include "support/app_fixture.h"
#include "support/temp_dir.h"

namespace {

using ::testing::HasSubstr;

struct CliResult {
    int code;
    std::string out, err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override { fake_engines().reset(); }

    CliResult cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"veltrona-cli", "--data-dir", dir.path()});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int code = cli_main(static_cast<int>(argv.size()), argv.data(), &fake_engine_table());
        std::string out = ::testing::internal::GetCapturedStdout();
        return {code, out, ::testing::internal::GetCapturedStderr()};
    }

    CliResult add_direct(const std::string& name, const std::string& output = "rtmp://127.0.0.1:9/live/SECRET") {
        return cli({"add", "--type", "direct", "--name", name, "--source-type", "direct", "--source",
                    "http://127.0.0.1:9/live.m3u8", "--output", output});
    }

    TempDir dir;
};

TEST_F(CliTest, AddListAndCheck) {
    CliResult added = add_direct("Main show");
    ASSERT_EQ(added.code, 0) << added.err;
    EXPECT_EQ(added.out, "1\n");
    EXPECT_EQ(cli({"add", "--type", "record", "--name", "Later", "--source", "https://youtu.be/abc", "--output",
                   "rtmps://127.0.0.1/app/KEY2", "--poll-seconds", "3"})
                  .out,
              "2\n");

    CliResult list = cli({"list"});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.out,
              "1\tMain show\tDirect\tDirect\tSTOPPED\trtmp://127.0.0.1:9/live/********\n"
              "2\tLater\tRecord/Push\tYouTube\tSTOPPED\trtmps://127.0.0.1/app/********\n");
    EXPECT_THAT(read_file(dir.file("config.tsv")), HasSubstr("\t15\t5\t0\t1\t1\t50\t"));  // poll 3 -> 15

    CliResult check = cli({"check", "1"});
    EXPECT_EQ(check.code, 0);
    EXPECT_EQ(check.out, "Workflow 1 is ready to run.\n");
}

TEST_F(CliTest, AddRefusesWithTheEditorsWordsAndSavesNothing) {
    CliResult refused = add_direct("Main", "rtmp://127.0.0.1:9");
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err,
              "Invalid output URL: Enter a complete RTMP or RTMPS output URL, including its application/path.\n");
    EXPECT_FALSE(path_exists(dir.file("config.tsv")));
    EXPECT_EQ(cli({"add", "--type", "direct", "--name", "x"}).code, 2);
    EXPECT_EQ(cli({"add", "--type", "stream", "--name", "x", "--source", "s", "--output", "o"}).code, 2);
    EXPECT_EQ(add_direct("Main").out, "1\n");  // the refused one did not use up an id
}

TEST_F(CliTest, CheckReportsTheFirstProblem) {
    ASSERT_EQ(add_direct("Main").code, 0);
    std::string config = read_file(dir.file("config.tsv"));
    config.replace(config.find("\t3\t2\t1\t"), 7, "\t3\t2\t0\t");  // disable it by hand
    write_file(dir.file("config.tsv"), config);
    CliResult check = cli({"check", "1"});
    EXPECT_EQ(check.code, 1);
    EXPECT_EQ(check.out, "This workflow is disabled.\n");
    EXPECT_EQ(cli({"check", "9"}).code, 2);
}

TEST_F(CliTest, RunPrintsEveryStatusChangeAndStopsAfterTheGivenTime) {
    ASSERT_EQ(add_direct("Main").code, 0);
    CliResult run = cli({"run", "--seconds", "2", "1"});
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_THAT(run.out, ::testing::ContainsRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} #1 STARTING Starting\n"));
    EXPECT_THAT(run.out, HasSubstr(" #1 RESOLVING Connecting native RTMP/RTMPS publisher\n"));
    EXPECT_THAT(run.out, HasSubstr(" #1 STREAMING Fake engine working\n"));
    EXPECT_THAT(run.out, ::testing::EndsWith(" #1 STOPPED Stopped\n"));
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("SECRET")));
}

TEST_F(CliTest, RunShowsLastErrorChanges) {
    ASSERT_EQ(add_direct("Main").code, 0);
    fake_engines().capture = FakeBehavior::fail;
    fake_engines().error_text = "connection failed";
    CliResult run = cli({"run", "--seconds", "1", "1"});
    EXPECT_EQ(run.code, 0);
    EXPECT_THAT(run.out, HasSubstr("#1 last error: connection failed\n"));
    EXPECT_THAT(run.out, HasSubstr(" #1 RECONNECTING Restarting source after error\n"));
}

TEST_F(CliTest, RunThatEndsByItselfInErrorExitsOne) {
    CliResult added = cli({"add", "--type", "direct", "--name", "yt", "--source", "https://youtu.be/abc", "--output",
                           "rtmp://127.0.0.1:9/live/k"});
    ASSERT_EQ(added.code, 0);
    // A yt-dlp that passes the version probe but cannot resolve anything.
    std::string bin = dir.file("bin");
    ASSERT_TRUE(ensure_directory(bin));
    write_file(bin + "/yt-dlp", fake_ytdlp_script("", 0), 0755);
    std::string old_path = getenv("PATH");
    setenv("PATH", bin.c_str(), 1);
    CliResult run = cli({"run", "--seconds", "20", "1"});
    setenv("PATH", old_path.c_str(), 1);
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr(" #1 ERROR Source resolution failed\n"));
}

TEST_F(CliTest, RunRefusesWorkflowsThatCannotStart) {
    ASSERT_EQ(add_direct("Main").code, 0);
    std::string config = read_file(dir.file("config.tsv"));
    config.replace(config.find("\t3\t2\t1\t"), 7, "\t3\t2\t0\t");
    write_file(dir.file("config.tsv"), config);
    CliResult run = cli({"run", "--seconds", "1", "1"});
    EXPECT_EQ(run.code, 2);
    EXPECT_THAT(run.out, HasSubstr("#1 cannot start: This workflow is disabled.\n"));
    EXPECT_EQ(cli({"run", "7"}).code, 2);
    EXPECT_EQ(cli({"run"}).code, 2);
    EXPECT_EQ(cli({"fly"}).code, 2);
}

}  // namespace
