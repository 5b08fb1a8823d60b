#include "runner/Verdict.h"

#include "engine/Text.h"

namespace {

// "the run" when it was the only one, else "3 of 60 runs".
std::string AmongRuns(uint64_t count, uint64_t ended) {
    if (ended == 1) return "the run";
    return std::to_string(count) + " of " + Plural(ended, "run", "runs");
}

// Which runs went wrong or failed, and the first of them.
std::string Faults(const RunOutcome& outcome) {
    std::string text;
    if (outcome.wrong > 0) {
        const std::string prime =
            outcome.firstWrongSlot ? "prime number " + std::to_string(uint64_t{*outcome.firstWrongSlot} + 1) : "";
        text = AmongRuns(outcome.wrong, outcome.ended) +
               (outcome.firstWrongSlot ? " computed a wrong prime" : " gave a wrong result");
        if (outcome.ended == 1) {
            if (!prime.empty()) text += " (" + prime + ")";
        } else {
            text += "; first at run " + std::to_string(outcome.firstWrong) + (prime.empty() ? "" : ", " + prime);
        }
    }
    if (outcome.failed > 0) {
        if (!text.empty()) text += "; ";
        text += AmongRuns(outcome.failed, outcome.ended) + " failed";
        if (outcome.ended > 1) text += "; first at run " + std::to_string(outcome.firstFailed);
    }
    return text;
}

// "stopped by Ctrl-C before the time was up", or "Ctrl-C came after the last run".
std::string Stopped(const RunsStop& stop) {
    if (stop.before.empty()) return stop.by + " came after the last run";
    return "stopped by " + stop.by + " before " + stop.before;
}

}  // namespace

void RunOutcome::Add(uint64_t number, const RunRecord& run) {
    if (run.stopped) stoppedChecked = run.checkedPrimes;
    switch (run.status) {
        case RunStatus::Finished: ++verified; break;
        case RunStatus::Wrong:
            if (wrong++ == 0) {
                firstWrong = number;
                firstWrongSlot = run.wrongSlot;
            }
            break;
        case RunStatus::Failed:
            if (failed++ == 0) firstFailed = number;
            break;
        case RunStatus::Stopped: return;
    }
    ++ended;
}

Verdict VerdictOf(const RunOutcome& outcome, const RunsStop& stop) {
    const std::string stopped = stop.by.empty() ? "" : "; " + Stopped(stop);
    if (outcome.wrong > 0 || outcome.failed > 0) return {false, "FAIL: " + Faults(outcome) + stopped};
    if (outcome.verified == 0 && stop.by.empty()) return {false, "FAIL: no run was made"};
    const std::string runs = Plural(outcome.verified, "run", "runs");
    if (outcome.verified == 0) {
        const std::string checked = outcome.stoppedChecked == 0
                                        ? ", nothing was verified"
                                        : "; only the " + std::to_string(outcome.stoppedChecked) +
                                              " primes it had found were checked, all right";
        return {false, "FAIL: stopped by " + stop.by + " before any run finished" + checked};
    }
    if (!stop.by.empty() && !stop.before.empty()) {
        return {true, "PASS: " + runs + (outcome.verified == 1 ? ", verified" : ", every one verified") + stopped};
    }
    return {true, "PASS: " + (outcome.verified == 1 ? "the run was verified" : "every run verified (" + runs + ")") +
                      stopped};
}
