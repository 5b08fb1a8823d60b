// Text for a terminal: words wrapped to a width, and colours only where asked.
#include <gmock/gmock.h>

#include <string>
#include <tuple>
#include <vector>

#include "runner/TerminalText.h"

using ::testing::HasSubstr;

TEST(TerminalText, WrapsAtBlanksAndIndentsTheFurtherLines) {
    EXPECT_EQ(WrapWords("one two three four", 9), "one two\nthree\nfour");
    EXPECT_EQ(WrapWords("one two three", 10, 2), "one two\n  three");
    EXPECT_EQ(WrapWords("one two three", 10, 2, 4), "one\n  two\n  three");  // 4 columns already taken
    EXPECT_EQ(WrapWords("a unbreakable-word b", 5), "a\nunbreakable-word\nb");
    EXPECT_EQ(WrapWords("one two", 7), "one two");  // a line exactly as wide
    EXPECT_EQ(LabelledLines({{"CPU", "x y"}, {"Processors", "a b c"}}, 16),
              "CPU:         x y\nProcessors:  a b\n             c\n");
}

TEST(TerminalText, ColoursOnATerminalOrWhenAskedAndNeverWithNoColorOrNever) {
    // mode, a terminal, NO_COLOR, colours
    const std::vector<std::tuple<ColorMode, bool, const char*, bool>> cases = {
        {ColorMode::Auto, true, nullptr, true},    {ColorMode::Auto, false, nullptr, false},
        {ColorMode::Auto, true, "1", false},       {ColorMode::Auto, true, "", true},
        {ColorMode::Always, false, "1", true},     {ColorMode::Never, true, nullptr, false},
    };
    for (const auto& [mode, terminal, noColor, on] : cases) {
        SCOPED_TRACE(std::to_string(int(mode)) + (terminal ? " terminal " : " file ") + (noColor ? noColor : "unset"));
        EXPECT_EQ(ColoursOn(mode, terminal, noColor), on);
    }
    EXPECT_EQ(PaintedVerdict("PASS: every run verified", true), "\x1b[32mPASS\x1b[0m: every run verified");
    EXPECT_EQ(PaintedVerdict("FAIL: wrong", true), "\x1b[31mFAIL\x1b[0m: wrong");
    EXPECT_EQ(PaintedVerdict("PASS: x", false), "PASS: x");
    EXPECT_EQ(PaintedVerdict("verified: PASS", true), "verified: PASS");
}
