#include "mpi/FleetVerdict.h"

#include <algorithm>

#include "engine/Text.h"
#include "runner/ExitCodes.h"

namespace {

// Past this length a list of ranks is only counted: a verdict stays one line.
constexpr size_t kLongestRankList = 40;

std::string SettingWords(const RunRecord& run) { return "task " + run.task + " on " + run.threadText; }

// Wrong and failed runs: who, and what went wrong, the detail lines say the rest.
std::string FailureWords(const FleetTally& tally, const std::vector<RankInfo>& ranks) {
    const std::vector<FailureGroup> groups = GroupFailures(tally.failures);
    auto what = [](RunStatus status) { return status == RunStatus::Wrong ? "computed a wrong prime" : "could not run"; };
    if (groups.size() == 1) {
        const FleetFailure& first = groups.front().first;
        return RanksText(groups.front().ranks, ranks) + " " + what(first.run.status) + " (" + SettingWords(first.run) + ")";
    }
    size_t wrong = 0;
    for (const FleetFailure& failure : tally.failures) wrong += failure.run.status == RunStatus::Wrong ? 1 : 0;
    const size_t failed = tally.failures.size() - wrong;
    std::string text;
    if (wrong > 0) text = Plural(wrong, "rank", "ranks") + " " + what(RunStatus::Wrong);
    if (failed > 0) text += (text.empty() ? "" : ", ") + Plural(failed, "rank", "ranks") + " " + what(RunStatus::Failed);
    const FleetFailure& first = *std::min_element(tally.failures.begin(), tally.failures.end(),
                                                  [](const FleetFailure& a, const FleetFailure& b) { return a.rank < b.rank; });
    return text + " (first: " + RanksText({first.rank}, ranks) + ", " + SettingWords(first.run) + ")";
}

// Every reason the fleet failed, most telling first.
std::vector<std::string> Reasons(const FleetTally& tally, const std::vector<RankInfo>& ranks, const FleetOptions& options) {
    std::vector<std::string> reasons;
    if (tally.loss) {
        reasons.push_back(RanksText(tally.loss->ranks, ranks) + " did not answer " + WaitedText(*tally.loss) +
                          ", at " + tally.loss->step +
                          "; the job was ended");
    }
    if (!tally.failures.empty()) reasons.push_back(FailureWords(tally, ranks));
    if (!tally.ungathered.empty()) reasons.push_back(tally.ungathered + " were too large to gather");
    if (options.failOnOutlier && tally.outliers > 0) {
        reasons.push_back(Plural(size_t(tally.outliers), "outlier", "outliers") + ", more than " +
                          FullPrecision(options.outlierPercent) + "% slower than the fleet median");
    }
    if (!tally.storeFailure.empty()) reasons.push_back("the result store could not be written");
    return reasons;
}

}  // namespace

std::string RanksText(const std::vector<int>& ranks, const std::vector<RankInfo>& infos) {
    if (ranks.size() == 1) return "rank " + std::to_string(ranks.front()) + " on " + infos[size_t(ranks.front())].host;
    const std::string list = RankRanges(ranks);
    const bool oneHost = std::all_of(ranks.begin(), ranks.end(), [&](int rank) {
        return infos[size_t(rank)].host == infos[size_t(ranks.front())].host;
    });
    if (oneHost && list.size() <= kLongestRankList) return "ranks " + list + " on " + infos[size_t(ranks.front())].host;
    return Plural(ranks.size(), "rank", "ranks") + (list.size() <= kLongestRankList ? " (" + list + ")" : "");
}

std::string DurationText(int64_t seconds) {
    if (seconds % 3600 == 0) return std::to_string(seconds / 3600) + "h";
    if (seconds % 60 == 0) return std::to_string(seconds / 60) + "m";
    return std::to_string(seconds) + "s";
}

FleetVerdict JudgeFleet(const FleetTally& tally, const std::vector<RankInfo>& ranks, const FleetOptions& options) {
    const std::string stopped = tally.stopped ? "; stopped by Ctrl-C or SIGTERM before the end" : "";
    const std::vector<std::string> reasons = Reasons(tally, ranks, options);
    FleetVerdict verdict;
    if (!reasons.empty()) {
        verdict.text = "FAIL: ";
        for (size_t i = 0; i < reasons.size(); ++i) verdict.text += (i == 0 ? "" : "; ") + reasons[i];
        verdict.text += stopped;
        // A store that failed after runs that were stopped keeps the stop's code, as the runner does.
        const bool onlyStore = reasons.size() == 1 && !tally.storeFailure.empty();
        verdict.exitCode = onlyStore && tally.stopped ? kExitInterrupted : kExitFault;
        return verdict;
    }
    if (tally.verifiedRuns == 0) {
        verdict.text = tally.stopped ? "FAIL: stopped before any run finished, nothing was verified"
                                     : "FAIL: no run finished, nothing was verified";
        verdict.exitCode = tally.stopped ? kExitInterrupted : kExitFault;
        return verdict;
    }
    verdict.pass = true;
    verdict.exitCode = tally.stopped ? kExitInterrupted : kExitOk;
    verdict.text = "PASS: " + Plural(ranks.size(), "rank", "ranks") + ", every " + (tally.stopped ? "finished " : "") +
                   "run verified (" + Plural(size_t(tally.verifiedRuns), "run", "runs") + ")";
    if (tally.outliers > 0) {
        verdict.text += "; " + Plural(size_t(tally.outliers), "outlier", "outliers") + " more than " +
                        FullPrecision(options.outlierPercent) + "% slower than the fleet median";
    }
    verdict.text += stopped;
    return verdict;
}

std::string WaitedText(const FleetLoss& loss) {
    if (loss.afterStop) return "once the job was being stopped";
    return "within " + DurationText(loss.seconds) + " (--deadline)";
}
