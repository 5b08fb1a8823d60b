// Statistics of run times: the median that sums up a setting's repeats and a
// stress's quarters, and the two-sided Mann-Whitney U test, which tells
// whether two sets of run times differ by more than noise.
#pragma once

#include <vector>

double MedianOf(std::vector<double> values);  // REQUIRES: values not empty

struct MannWhitneyResult {
    double u = 0.0;       // U of the first sample: pairs (x, y) with x > y, ties counting one half
    double pValue = 1.0;  // two-sided
    bool exact = false;   // from the exact distribution of U, else the normal approximation
};

// The exact distribution of U when either sample has at most 8 values and no
// value occurs twice in the two together; otherwise the normal approximation
// with tie correction and continuity correction. The same choice and the same
// p-values as the usual statistics packages' default (two-sided, "auto"), up
// to 1000 values in the larger sample, beyond which it is always the normal
// approximation.
// REQUIRES: x and y not empty, no NaN.
MannWhitneyResult MannWhitneyU(const std::vector<double>& x, const std::vector<double>& y);
