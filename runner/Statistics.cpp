#include "runner/Statistics.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace {

constexpr size_t kExactLimit = 8;
// The exact distribution costs about (n1 n2)^2 / 4 additions (20 ms at 8
// against 1000 values): past this many values in the larger sample (the
// runner's most repeats) the normal approximation is used instead.
constexpr size_t kExactLargerLimit = 1000;

// P(U >= k) for samples of m and n values without ties: the number of
// arrangements with U = u obeys c(m, n, u) = c(m - 1, n, u - n) + c(m, n - 1, u).
// Kept in doubles: only sums, so the relative error stays at rounding level
// even where the counts pass 2^53.
double ExactUpperTail(size_t m, size_t n, size_t k) {
    if (m > n) std::swap(m, n);  // U's distribution is the same both ways round
    // counts[i]: the distribution for i values against the j values of the
    // current round of the outer loop; counts[i] has i * j + 1 entries.
    std::vector<std::vector<double>> counts(m + 1);
    for (size_t i = 0; i <= m; ++i) counts[i] = {1.0};  // j = 0: U is 0
    for (size_t j = 1; j <= n; ++j) {
        for (size_t i = 1; i <= m; ++i) {
            // c(i, j, u) = c(i, j - 1, u) + c(i - 1, j, u - j): counts[i - 1]
            // already holds round j, counts[i] still round j - 1.
            std::vector<double> next(i * j + 1, 0.0);
            std::copy(counts[i].begin(), counts[i].end(), next.begin());
            for (size_t u = 0; u < counts[i - 1].size(); ++u) next[u + j] += counts[i - 1][u];
            counts[i] = std::move(next);
        }
    }
    const std::vector<double>& c = counts[m];
    const double total = std::accumulate(c.begin(), c.end(), 0.0);
    // The distribution is symmetric: P(U >= k) = P(U <= m n - k).
    const size_t top = m * n - std::min(k, m * n);
    double tail = 0.0;
    for (size_t u = 0; u <= top; ++u) tail += c[u];
    return tail / total;
}

}  // namespace

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n % 2 == 1) return values[n / 2];
    return (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

MannWhitneyResult MannWhitneyU(const std::vector<double>& x, const std::vector<double>& y) {
    const size_t n1 = x.size();
    const size_t n2 = y.size();
    const double n = double(n1 + n2);

    // Mid-ranks of the pooled values, and the tie term sum(t^3 - t).
    std::vector<std::pair<double, size_t>> pooled;  // value, 0 for x or 1 for y
    for (double v : x) pooled.emplace_back(v, 0);
    for (double v : y) pooled.emplace_back(v, 1);
    std::sort(pooled.begin(), pooled.end());
    double rankSumX = 0.0;
    double tieTerm = 0.0;
    for (size_t first = 0; first < pooled.size();) {
        size_t last = first;
        while (last + 1 < pooled.size() && pooled[last + 1].first == pooled[first].first) ++last;
        const double t = double(last - first + 1);
        const double midRank = double(first + last) / 2.0 + 1.0;
        for (size_t i = first; i <= last; ++i) {
            if (pooled[i].second == 0) rankSumX += midRank;
        }
        tieTerm += t * t * t - t;
        first = last + 1;
    }

    MannWhitneyResult result;
    result.u = rankSumX - double(n1) * double(n1 + 1) / 2.0;
    const double u2 = double(n1) * double(n2) - result.u;
    const double uMax = std::max(result.u, u2);

    result.exact = (n1 <= kExactLimit || n2 <= kExactLimit) && std::max(n1, n2) <= kExactLargerLimit && tieTerm == 0.0;
    double p = 0.0;
    if (result.exact) {
        p = 2.0 * ExactUpperTail(n1, n2, size_t(uMax));
    } else {
        const double sigma =
            std::sqrt(double(n1) * double(n2) / 12.0 * ((n + 1.0) - tieTerm / (n * (n - 1.0))));
        // Every value equal: no spread at all, nothing to tell the samples apart.
        if (!(sigma > 0.0)) return result;
        const double z = (uMax - double(n1) * double(n2) / 2.0 - 0.5) / sigma;
        p = 2.0 * 0.5 * std::erfc(z / std::sqrt(2.0));
    }
    result.pValue = std::clamp(p, 0.0, 1.0);
    return result;
}
