// The line that ends every report, the table, CSV and JSON of both programs
// alike: PASS or FAIL and why, in words a reader who is no programmer reads
// right. What was checked and how (digests, slots) is on the lines before it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "runner/RunRecord.h"

// How the runs of an invocation ended, as its verdict counts them.
struct RunOutcome {
    // Counts run `number` (from 1), whatever its end.
    void Add(uint64_t number, const RunRecord& run);

    uint64_t ended = 0;  // verified, wrong or failed: every run but a stopped one
    uint64_t verified = 0;
    uint64_t wrong = 0;
    uint64_t failed = 0;
    uint64_t firstWrong = 0;                 // the number of the first wrong run; 0: none
    std::optional<uint32_t> firstWrongSlot;  // in it, the first slot the sieve found wrong
    uint64_t firstFailed = 0;                // the number of the first failed run; 0: none
    uint32_t stoppedChecked = 0;             // the primes of a stopped run found right by the sieve
};

// What stopped the runs, if anything did.
struct RunsStop {
    std::string by;      // "Ctrl-C", "SIGTERM", ...; empty: nothing stopped them
    std::string before;  // what it cut short: "the time was up"; empty: it came after the last run
};

struct Verdict {
    bool pass = false;
    std::string text;  // "PASS: every run verified (60 runs)", "FAIL: ...", one line
};

// PASS when at least one run ended and every run that ended was verified,
// stopped or not; FAIL for a wrong or failed run, or when no run ended.
Verdict VerdictOf(const RunOutcome& outcome, const RunsStop& stop);
