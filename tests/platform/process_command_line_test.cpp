// The Windows command-line quoting, checked on every build: the rules are
// plain text, and the Windows build also round-trips them through the
// system's own parser (platform_win32_test.cpp).
#include <gtest/gtest.h>

#include "platform/process/process.h"

namespace {

TEST(ProcessCommandLine, QuotesEveryArgumentSoTheParserGivesItBack) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"C:\\tools\\yt-dlp.exe", "--version"}, R"("C:\tools\yt-dlp.exe" "--version")"},
        {{"a", ""}, R"("a" "")"},
        {{"say \"hi\""}, R"("say \"hi\"")"},
        // A folder argument ends in a backslash: doubled, or it would escape the closing quote.
        {{"C:\\out dir\\"}, R"("C:\out dir\\")"},
        // Backslashes before a quote double and the quote is escaped.
        {{R"(a\"b)"}, R"("a\\\"b")"},
        {{R"(\\server\share)"}, R"("\\server\share")"},
        {{"https://host/p?a=1&b=\"2\""}, R"("https://host/p?a=1&b=\"2\"")"},
    };
    for (const auto& [argv, line] : cases) EXPECT_EQ(process_command_line(argv), line);
}

}  // namespace
