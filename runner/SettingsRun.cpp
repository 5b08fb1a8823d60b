#include "runner/SettingsRun.h"

#include <memory>
#include <optional>

#include "engine/RunText.h"
#include "runner/ExitCodes.h"
#include "runner/ProgressLine.h"
#include "runner/ReportWriter.h"
#include "runner/StopSignals.h"
#include "runner/Verdict.h"

namespace {

// Prints the notifications when asked to, and shows the window title's
// percentage (index * 100 / (N - 1)) on the progress line.
class RunPrinter final : public RunListener {
public:
    RunPrinter(std::ostream* events_, ProgressLine& progress_, SearchDriver& driver_)
        : events(events_), progress(progress_), driver(driver_) {}
    void Notified(const RunRecord& run, const Notification& notification) override {
        PrintEvent(events, notification);
        // No one reads the events any more: the run stops, as on Ctrl-C.
        if (events != nullptr && events->fail()) driver.RequestStop();
        if (notification.message != WM_SEARCH_PROGRESS) return;
        progress.Show(TitleText("Vantrel " + run.task + ", " + run.threadText, run.targetCount, notification.index, 1));
    }

private:
    std::ostream* events;  // null: not printed
    ProgressLine& progress;
    SearchDriver& driver;
};

// What stopped `runs`, `planned` of them asked for: `by` (empty: nothing).
RunsStop StopOfRuns(const std::vector<RunRecord>& runs, size_t planned, const std::string& by) {
    RunsStop stop;
    stop.by = by;
    const bool allMade = runs.size() == planned && !runs.back().stopped;
    if (!by.empty() && !allMade) {
        stop.before = planned == 1 ? "the run ended" : "all " + std::to_string(planned) + " runs were done";
    }
    return stop;
}

Verdict VerdictOfRuns(const std::vector<RunRecord>& runs, const RunsStop& stop) {
    RunOutcome outcome;
    for (size_t i = 0; i < runs.size(); ++i) outcome.Add(i + 1, runs[i]);
    return VerdictOf(outcome, stop);
}

}  // namespace

int RunSettings(const RunnerOptions& options, const RunContext& context, SearchDriver& driver, const Console& console,
                const std::atomic<bool>& interrupt, std::vector<RunRecord>& runs, RunsStop& stop) {
    std::unique_ptr<ReportWriter> writer =
        MakeReportWriter(options.format, options.events ? console.err : console.out, options.sweep, options.repeat,
                         console.colours);
    writer->Begin(context);
    ProgressLine progressLine(console);
    RunPrinter listener(options.events ? &console.out : nullptr, progressLine, driver);
    // A stopped run's primes are checked before they are saved, whatever --verify says.
    const VerifyMode verify = options.savePrimes.empty() ? options.verify : VerifyMode::Full;
    const size_t planned = options.threadCounts.size() * size_t(options.repeat);
    auto stopping = [&] { return interrupt.load() || console.Closed(options.events); };
    auto end = [&](int code) {
        const bool interrupted = interrupt.load();
        const bool closed = console.Closed(options.events);
        stop = StopOfRuns(runs, planned, interrupted ? StopName() : closed ? kClosedOutputStop : "");
        writer->End(VerdictOfRuns(runs, stop));
        if (code == kExitFault) return code;
        if (interrupted) return kExitInterrupted;
        return closed || console.Closed(options.events) ? kExitOutputClosed : code;
    };

    // Beyond the usable physical cores, threads share cores: efficiency means
    // something else from that row on.
    const std::optional<uint32_t> cores = context.processors.cores;
    auto beyondCores = [&cores](uint16_t threads) { return cores && threads > *cores; };
    std::optional<double> oneThreadSeconds;
    for (uint16_t threads : options.threadCounts) {
        std::vector<RunRecord> finished;
        for (int repetition = 0; repetition < options.repeat; ++repetition) {
            if (stopping()) return end(kExitInterrupted);
            RunRecord run = driver.Run(options.taskIndex, threads, &listener, verify);
            progressLine.Clear();
            runs.push_back(run);
            if (run.status == RunStatus::Finished) {
                finished.push_back(run);
                continue;
            }
            // The first run that did not finish ends the session, with its own row.
            SettingResult result;
            result.row = run;
            result.machine = run.machine;
            result.repeats = options.repeat;
            result.beyondCores = beyondCores(threads);
            writer->Row(result);
            if (run.status == RunStatus::Stopped) return end(kExitInterrupted);
            const int code = end(kExitFault);
            const bool several = options.threadCounts.size() > 1 || options.repeat > 1;
            console.err << "vantrel-cli: " << FaultLine(run, several ? runs.size() : 0) << "\n";
            console.err.flush();
            return code;
        }
        SettingResult result = SummarizeSetting(finished, options.repeat);
        if (options.sweep) {
            if (threads == 1) oneThreadSeconds = result.minSeconds;
            if (oneThreadSeconds) SetSpeedup(result, *oneThreadSeconds);
        }
        result.beyondCores = beyondCores(threads);
        writer->Row(result);
    }
    return end(kExitOk);
}
