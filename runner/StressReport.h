// A stress, the same setting run again and again: the tally of its runs, the
// drift of their times, the live line and the report, written as a table,
// CSV or JSON while the runs end, so that nothing grows with the runs but
// their times.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "runner/EachCore.h"
#include "runner/MachineWords.h"
#include "runner/ReportFormat.h"
#include "runner/RunContext.h"
#include "runner/RunRecord.h"
#include "runner/Verdict.h"
#include "verify/Verification.h"

struct StressSettings {
    std::string task;        // "10M"
    std::string threadText;  // "2 cores"
    uint16_t threads = 1;
    int64_t seconds = 0;     // how long the stress runs
    VerifyMode verify = VerifyMode::Digest;
    uint32_t primes = 0;     // the task's N
    bool eachCore = false;   // one worker on each core in turn
};

// The runs of a stress, in order, a run stopped by the user included.
struct StressTally {
    static constexpr size_t kListedErrors = 20;

    void Add(uint64_t number, const RunRecord& run);

    uint64_t runs = 0;
    uint64_t errors = 0;                  // wrong and failed runs
    uint64_t stopped = 0;                 // the run the user stopped, if any
    std::vector<double> seconds;          // of every verified run, in order
    std::optional<double> fastest, slowest;
    std::optional<double> last;           // of the last run that ran to its end
    std::vector<std::string> errorLines;  // "run 3: wrong: ...", the first kListedErrors
    RunOutcome outcome;                   // for the verdict
    MachineTally machine;                 // what the machine did during each run
    std::optional<CoreTally> cores;       // --each-core: each place's runs
};

// How the time per run moved: the median of the last quarter of the runs
// against the median of the first quarter. A machine that slows as it heats
// shows a positive change.
struct Drift {
    size_t quarter = 0;  // runs in each quarter
    double first = 0.0;  // median seconds of the first quarter
    double last = 0.0;   // and of the last
    double Change() const { return last / first - 1.0; }
};
constexpr size_t kMinDriftRuns = 8;  // two runs in each quarter at least

// The drift of `seconds`, or none with fewer than kMinDriftRuns runs.
std::optional<Drift> DriftOf(const std::vector<double>& seconds);

// "+0.78% (median of the last 13 runs 11.60 sec, of the first 13 11.51 sec)",
// or why there is none: "not measured: 5 runs, it needs at least 8".
std::string DriftText(const std::vector<double>& seconds);

// "H:MM:SS", whole seconds.
std::string DurationText(double seconds);

// The live line: "10M on 2 cores: 0:01:23 / 0:10:00, run 8 at 45.12%, 7 done,
// 0 errors, last 11.52 sec, slowest 11.60 sec, fastest 11.48 sec".
std::string StressLine(const StressSettings& settings, const StressTally& tally, double elapsed, uint64_t running,
                       double percent);

class StressReport {
public:
    virtual ~StressReport() = default;
    virtual void Begin(const RunContext& context, const StressSettings& settings) = 0;
    // Every run as it ends, a stopped one included.
    virtual void Run(uint64_t number, const RunRecord& run) = 0;
    // interruption: empty, or how the user ended the stress ("run 8 stopped at ...").
    virtual void End(const StressTally& tally, double elapsed, const std::string& interruption,
                     const Verdict& verdict) = 0;
};

// The table sums up at the end; CSV and JSON give every run's seconds,
// status and verdict as it ends, and the summary at the end. Each ends with
// the verdict: the table's last line, CSV's "# verdict: " line, JSON's
// "pass" and "verdict".
std::unique_ptr<StressReport> MakeStressReport(ReportFormat format, std::ostream& out);
