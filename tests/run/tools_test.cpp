// External tools: finding, capture with a time limit, the exact yt-dlp
// argument list, and reading its answer.
#include "run/tools.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "platform/files/folders.h"
#include "run/run_control.h"
#include "support/app_fixture.h"

namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::Not;

class ToolsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ensure_directory(dir.file("tools"))); }
    std::string script(const std::string& name, const std::string& body) {
        std::string path = dir.file("tools/" + name);
        write_file(path, "#!/bin/sh\n" + body + "\n", 0755);
        return path;
    }
    TempDir dir;
};

// One pipe carries stdout and stderr; a child that never ends is killed at
// its limit with the helpers it started, which hold the pipe too (a helper
// left alive would hold the capture past the test's time-out); large output
// never blocks the child.
TEST_F(ToolsTest, CaptureCases) {
    const std::tuple<const char*, uint32_t, uint32_t, std::string> cases[] = {
        {"for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done", 10000, 0,
         "[plain]\n[with space]\n[quote\"inside]\n[back\\slash\\]\n[]\n[$HOME;`id`]\n"},
        {"echo out; echo err >&2; echo more; exit 7", 10000, 7, "out\nerr\nmore\n"},
        {"head -c 1000000 /dev/zero | tr '\\0' x", 20000, 0, std::string(1000000, 'x')},
        {"sleep 600 & echo started; sleep 600", 300, FORCED_END_EXIT_CODE, "started\n"},
    };
    ArgList args;  // an argument vector: nothing in an argument is interpreted
    for (const char* arg : {"plain", "with space", "quote\"inside", "back\\slash\\", "", "$HOME;`id`"})
        arglist_append(args, arg);
    for (const auto& [body, limit_ms, exit_code, text] : cases) {
        SCOPED_TRACE(body);
        ToolOutput output;
        ASSERT_TRUE(tool_run_capture(script("tool", body), &args, limit_ms, &output));
        EXPECT_EQ(std::tie(output.exit_code, output.output), std::tie(exit_code, text));
    }
    write_file(dir.file("tools/not-executable"), "#!/bin/sh\n", 0644);
    for (const char* missing : {"tools/nothing", "tools/not-executable"}) {
        ToolOutput output;
        EXPECT_FALSE(tool_run_capture(dir.file(missing), nullptr, 1000, &output)) << missing;
    }
}

TEST_F(ToolsTest, FindingPrefersToolsBesideTheProgramThenPath) {
    const std::string path_dir = dir.file("bin");
    ASSERT_TRUE(ensure_directory(path_dir));
    write_file(path_dir + "/helper", "#!/bin/sh\n", 0755);
    ScopedEnv path("PATH", "/nonexistent:" + path_dir);
    auto find = [](const std::string& program_dir, const char* name) {
        std::string found;
        return tool_find(program_dir, name, &found) ? found : "(none)";
    };
    EXPECT_EQ(find(dir.path(), "helper"), path_dir + "/helper");
    script("helper", "");
    EXPECT_EQ(find(dir.path(), "helper"), dir.file("tools/helper"));
    EXPECT_EQ(find(dir.path(), "absent-tool"), "(none)");
    script("bad", "exit 2");  // a probe needs exit code 0
    EXPECT_TRUE(tool_probe(dir.path(), "helper", "--version") && !tool_probe(dir.path(), "bad", "--version"));
    // A search-path hit of 260 characters or more counts as missing.
    std::string deep = dir.path();
    while (deep.size() < 260) deep += "/deeper-folder";
    ASSERT_TRUE(ensure_directory(deep));
    write_file(deep + "/far-tool", "#!/bin/sh\nexit 0\n", 0755);
    setenv("PATH", deep.c_str(), 1);
    EXPECT_EQ(std::tuple(find("", "far-tool"), tool_probe("", "far-tool", "--version")), std::tuple("(none)", false));
}

// The page URL is the last argument, unchanged; a bundled node runtime is named.
TEST_F(ToolsTest, YtDlpArgumentsNameTheBundledNodeRuntime) {
    const std::string page = "https://youtu.be/x\"y";
    std::vector<std::string> args = ytdlp_arguments(dir.path(), page).args;
    EXPECT_EQ(args.back(), page);
    EXPECT_THAT(args,
                AllOf(Contains("ZQ_STATUS:%(live_status)s"), Not(Contains("--js-runtimes"))));  // what the reader needs
    ASSERT_TRUE(ensure_directory(dir.file("tools/node")));
    write_file(dir.file("tools/node/node"), "", 0755);
    args = ytdlp_arguments(dir.path(), page).args;
    EXPECT_EQ(args.back(), page);
    EXPECT_THAT(args, Contains("node:" + dir.file("tools/node/node")));
}

TEST(YtdlpAnswer, Shapes) {
    const std::tuple<const char*, bool, std::string, bool> cases[] = {
        {"ZQ_STATUS:is_live\nhttps://m/x.m3u8\n", true, "https://m/x.m3u8", false},
        {"ZQ_STATUS:is_upcoming\n", false, "", true},
        {"ZQ_STATUS:was_live\r\nhttps://m/x.m3u8\r\n", true, "https://m/x.m3u8", true},
        {"\n\nhttps://m/x.m3u8\n", true, "https://m/x.m3u8", false},
        {"WARNING: something\nZQ_STATUS:is_live\nhttps://m/x.m3u8\n", false, "", false},
        {"ZQ_STATUS:is_live\nnot a url\n", false, "", false},
        {"", false, "", false},
    };
    for (const auto& [output, want_ok, want_url, want_not_live] : cases) {
        std::string url;
        bool not_live = false;
        const bool ok = ytdlp_parse_answer(output, &url, &not_live);
        EXPECT_EQ(std::tie(ok, url, not_live), std::tie(want_ok, want_url, want_not_live)) << output;
    }
}

// Starting a YouTube workflow probes yt-dlp once it is needed; the answer is kept.
class YtdlpProbe : public AppFixture {};

TEST_F(YtdlpProbe, YoutubeSourceNeedsAWorkingYtDlp) {
    auto message = [&] {
        std::string text;
        const bool ok = workflow_check(add_workflow([](WorkflowSettings& s) {
                                           s.source_type = SourceType::youtube, s.source = "https://youtu.be/a";
                                       }),
                                       &text);
        EXPECT_EQ(ok, text.empty());
        return text;
    };
    ASSERT_TRUE(ensure_directory(dir_.file("empty-path")));
    ScopedEnv path("PATH", dir_.file("empty-path"));
    const std::string broken = "The bundled yt-dlp tool is missing or cannot start. Reinstall Veltrona.";
    EXPECT_EQ(message(), broken);
    write_file(app_.program_dir + "/tools/yt-dlp", "#!/bin/sh\nexit 3\n", 0755);  // found, but fails
    EXPECT_EQ(message(), broken);
    EXPECT_EQ(app_.ytdlp_ok.load(), 0u);
    fake_ytdlp_page("");
    EXPECT_EQ(message(), "");
    EXPECT_EQ(app_.ytdlp_ok.load(), 1u);
}

}  // namespace
