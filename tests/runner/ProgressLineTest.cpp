// A live line within its terminal's width, read anew at every redraw.
#include <gmock/gmock.h>

#include <sstream>
#include <string>
#include <vector>

#include "runner/ProgressLine.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;

TEST(ProgressLine, LeavesOutTheLeastPartsFirstThenCuts) {
    const std::vector<ProgressPart> parts = {{"0:00:01 / 0:00:10", 0}, {"10M on 2 cores", 2}, {"run 3 at 45.00%", 1}};
    EXPECT_EQ(FitProgress(parts, 50), "0:00:01 / 0:00:10, 10M on 2 cores, run 3 at 45.00%");
    EXPECT_EQ(FitProgress(parts, 49), "0:00:01 / 0:00:10, run 3 at 45.00%");
    EXPECT_EQ(FitProgress(parts, 34), "0:00:01 / 0:00:10, run 3 at 45.00%");
    EXPECT_EQ(FitProgress(parts, 33), "0:00:01 / 0:00:10");
    EXPECT_EQ(FitProgress(parts, 10), "0:00:01...");
}

TEST(ProgressLine, FollowsTheTerminalsWidthAndBlanksWhatWasShown) {
    std::ostringstream out;
    size_t columns = 80;
    {
        ProgressLine line(out, true, [&columns] { return columns; });
        const std::vector<ProgressPart> parts = {{std::string(50, 'a'), 0}, {std::string(20, 'b'), 1}};
        line.Show(parts);
        EXPECT_EQ(out.str(), "\r" + std::string(50, 'a') + ", " + std::string(20, 'b'));
        columns = 60;  // narrowed: the next redraw fits 59 columns
        out.str("");
        line.Show(parts);
        // Blanks over the old line's rest, as far as the terminal now shows it.
        EXPECT_EQ(out.str(), "\r" + std::string(50, 'a') + std::string(9, ' '));
        out.str("");
    }
    EXPECT_EQ(out.str(), "\r" + std::string(50, ' ') + "\r");

    std::ostringstream erased;
    {
        ProgressLine line(erased, true, [] { return size_t(40); }, true);
        line.Show("ab");
    }
    EXPECT_THAT(erased.str(), HasSubstr("\rab\x1b[J\r"));
    EXPECT_THAT(erased.str(), EndsWith("\x1b[K"));
    std::ostringstream hidden;
    ProgressLine(hidden, false).Show("ab");
    EXPECT_EQ(hidden.str(), "");
}
