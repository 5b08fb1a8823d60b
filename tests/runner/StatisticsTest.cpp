#include <gtest/gtest.h>

#include <vector>

#include "runner/Statistics.h"

TEST(Statistics, MedianOfOddAndEvenCounts) {
    EXPECT_DOUBLE_EQ(MedianOf({3.0, 1.0, 2.0}), 2.0);
    EXPECT_DOUBLE_EQ(MedianOf({4.0, 1.0, 3.0, 2.0}), 2.5);
    EXPECT_DOUBLE_EQ(MedianOf({7.0}), 7.0);
}

// The expected values were computed once with SciPy 1.10.1:
//   scipy.stats.mannwhitneyu(x, y, alternative='two-sided')   (method 'auto')
// which uses the exact distribution when either sample has at most 8 values
// and nothing is tied, else the normal approximation with tie and continuity
// correction.
TEST(Statistics, MannWhitneyMatchesReferenceValues) {
    std::vector<double> aBit;
    for (int i = 0; i < 30; ++i) aBit.push_back(i + 0.5);
    struct Case {
        const char* name;
        std::vector<double> x, y;
        double u, p;
        bool exact;
    };
    const Case cases[] = {
        {"separated", {1.1, 2.2, 3.3, 4.4, 5.5}, {6.6, 7.7, 8.8, 9.9, 10.5}, 0.0, 0.007936507936507936, true},
        {"overlap", {0.81, 0.79, 0.83, 0.80, 0.85}, {0.84, 0.86, 0.82, 0.88, 0.87, 0.90}, 3.0, 0.030303030303030304, true},
        {"ties", {1.0, 2.0, 2.0, 3.0, 4.0}, {2.0, 3.0, 3.0, 5.0, 6.0, 7.0}, 6.0, 0.11390314458853068, false},
        {"large", {0.75, 1.5, 1.25, 0.5, 2.0, 1.0, 1.75, 0.25, 1.5, 2.25},
         {1.5, 2.5, 1.25, 3.0, 2.0, 2.75, 1.75, 3.25, 2.25, 1.0, 3.5, 2.0}, 22.0, 0.013097879402585067, false},
        {"one small sample", {12.0, 25.0, 3.0, 18.0, 31.0}, aBit, 88.0, 0.5667709899208949, true},
        {"all equal", {1.0, 1.0, 1.0, 1.0, 1.0}, {1.0, 1.0, 1.0, 1.0, 1.0, 1.0}, 15.0, 1.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MannWhitneyResult result = MannWhitneyU(c.x, c.y);
        EXPECT_DOUBLE_EQ(result.u, c.u);
        EXPECT_NEAR(result.pValue, c.p, 1e-12 * c.p);
        EXPECT_EQ(result.exact, c.exact);
        // Two-sided: the same p-value with the samples swapped.
        EXPECT_NEAR(MannWhitneyU(c.y, c.x).pValue, c.p, 1e-12 * c.p);
    }
}
