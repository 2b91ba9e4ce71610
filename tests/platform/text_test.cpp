// UTF-16 capacities over UTF-8 text and the error-buffer rules.
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <array>

#include "platform/text/error_text.h"

namespace {

TEST(Utf16Fit, CountsUnitsAndNeverSplitsACharacter) {
    EXPECT_EQ(std::tuple(utf16_length("abc"), utf16_length("é✓")), std::tuple(3u, 2u));
    EXPECT_EQ(utf16_length("🎥"), 2u);          // a surrogate pair
    EXPECT_EQ(utf16_fit("abcdef", 4), "abc");  // capacity counts the terminator
    EXPECT_EQ(utf16_fit("ab🎥", 4), "ab");      // the pair does not fit in one unit
    EXPECT_EQ(std::tuple(utf16_fit("ab🎥", 5), utf16_fit("anything", 0)), std::tuple("ab🎥", ""));
    EXPECT_EQ(utf16_fit("a\xFF\xFEz", 3), "a\xFF");  // stray bytes count one unit each
}

TEST(ErrorText, CutsToFitAndRespectsTheFirstWriter) {
    std::array<char, 8> buffer{};
    error_printf(buffer, "%s %d", "connection", 42);
    EXPECT_EQ(error_view(buffer), "connect");
    error_set_if_empty(buffer, "later text");
    EXPECT_EQ(error_view(buffer), "connect");
    error_clear(buffer);
    error_set_if_empty(buffer, "ok");
    EXPECT_EQ(error_view(buffer), "ok");

    std::array<char, 6> small{};
    error_printf(small, "ab✓✓");  // 2 + 3 + 3 bytes: the second mark cannot fit
    EXPECT_EQ(error_view(small), "ab✓");
    std::string path;  // long and non-ASCII: the engine buffer's cut falls inside a character
    for (int i = 0; i < 200; ++i) path += "/录";
    std::array<char, 512> engine{};
    for (const char* lead : {"", "x", "xy"}) {
        error_printf(engine, "%scannot open %s", lead, path.c_str());
        EXPECT_TRUE(error_view(engine).size() >= 509 && utf8_is_valid(error_view(engine))) << lead;
    }
    error_printf(std::span<char>(), "nothing %d", 1);  // no buffer, no write
    EXPECT_TRUE(error_is_empty(std::span<char>()));
}

}  // namespace

TEST(Utf8, ValidOnlyWhenEverySequenceIsComplete) {
    EXPECT_TRUE(utf8_is_valid("plain \xC3\xBC \xE2\x9C\x93 \xF0\x9F\x8E\xA5"));
    for (const char* bad : {"\x80", "\xC3", "\xE2\x9C", "\xC3x", "\xF8\x80\x80\x80\x80"})
        EXPECT_FALSE(utf8_is_valid(bad)) << bad;
}

TEST(PrintableLine, DropsEscapesAndControlsKeepsText) {
    const std::pair<const char*, const char*> cases[] = {
        {"\x1b[0;31mERROR:\x1b[0m gone", "ERROR: gone"},
        {"a\tb\rc\nd", "a b c d"},
        {"\x1b]0;title\a\x1b]8;;x\x1b\\ok\x1b", "ok"},
        {"bell\a del\x7f back\b c1\xc2\x9b \xc3\xa9\xe2\x9c\x93", "bell del back c1 \xc3\xa9\xe2\x9c\x93"},
        {"\x1b[2", ""}};
    for (const auto& [text, printable] : cases) EXPECT_EQ(printable_line(text), printable) << text;
}
