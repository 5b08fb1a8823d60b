#include "runner/StressRun.h"

#include <chrono>
#include <memory>

#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "engine/Text.h"
#include "machine/Processors.h"
#include "runner/ExitCodes.h"
#include "runner/ProgressLine.h"
#include "runner/StopSignals.h"
#include "runner/StressReport.h"

namespace {

using Clock = std::chrono::steady_clock;

// Prints the notifications when asked to, and keeps the stress's live line
// up to date, at most ten times a second.
class StressPrinter final : public RunListener {
public:
    StressPrinter(std::ostream* events_, ProgressLine& progress_, const StressSettings& settings_,
                  const StressTally& tally_, Clock::time_point start_, SearchDriver& driver_)
        : events(events_), progress(progress_), settings(settings_), tally(tally_), start(start_), driver(driver_) {}

    void Notified(const RunRecord& run, const Notification& notification) override {
        PrintEvent(events, notification);
        // No one reads the events any more: the run stops, as on Ctrl-C.
        if (events != nullptr && events->fail()) driver.RequestStop();
        Show(running, double(notification.index + 1) * 100.0 / double(run.targetCount), false);
    }

    // Shows run `number`, `percent` done; always when `now`, else only once
    // a tenth of a second has passed since the line was last shown.
    void Show(uint64_t number, double percent, bool now) {
        running = number;
        const Clock::time_point at = Clock::now();
        if (!now && at - shown < std::chrono::milliseconds(100)) return;
        shown = at;
        progress.Show(StressLine(settings, tally, std::chrono::duration<double>(at - start).count(), number, percent));
    }

private:
    std::ostream* events;  // null: not printed
    ProgressLine& progress;
    const StressSettings& settings;
    const StressTally& tally;
    const Clock::time_point start;
    SearchDriver& driver;
    Clock::time_point shown{};
    uint64_t running = 0;
};

StressSettings SettingsOf(const RunnerOptions& options, const RunContext& context,
                          const std::vector<CoreTarget>& eachCore) {
    StressSettings settings;
    settings.task = TaskTable::Label(options.taskIndex);
    settings.threads = options.threadCounts.front();
    settings.threadText = ThreadCountText(settings.threads);
    if (!eachCore.empty()) {
        const bool pus = options.bind == BindMode::Pus;
        settings.threadText = "each of " + Plural(eachCore.size(), pus ? "logical processor" : "core",
                                                  pus ? "logical processors" : "cores") + " in turn";
        settings.eachCore = true;
    }
    settings.seconds = options.stressSeconds;
    settings.verify = options.verify;
    settings.primes = TaskTable::taskSizes[options.taskIndex];
    settings.usable = context.processors.usable;
    return settings;
}

// How the user ended the stress after run `number`, or nothing when it goes on.
std::string Interruption(const RunRecord& run, uint64_t number) {
    if (run.stopped) {
        return "run " + std::to_string(number) + " stopped" + (run.progressed ? " at " + run.primeText : std::string()) +
               ", " + run.verdict;
    }
    return {};
}

}  // namespace

int RunStress(const RunnerOptions& options, const RunContext& context, SearchDriver& driver, const Console& console,
              const std::atomic<bool>& interrupt, bool keepRuns, std::vector<RunRecord>& runs, RunsStop& stop,
              const std::vector<CoreTarget>& eachCore) {
    const StressSettings settings = SettingsOf(options, context, eachCore);
    std::unique_ptr<StressReport> report =
        MakeStressReport(options.format, options.events ? console.err : console.out, console.colours);
    report->Begin(context, settings);

    StressTally tally;
    if (!eachCore.empty()) tally.cores.emplace(eachCore, options.bind == BindMode::Pus);
    ProgressLine progressLine(console);
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::seconds(options.stressSeconds);
    StressPrinter listener(options.events ? &console.out : nullptr, progressLine, settings, tally, start, driver);
    auto stopping = [&] { return interrupt.load() || console.Closed(options.events); };
    std::string interruption;
    for (uint64_t number = 1; Clock::now() < deadline; ++number) {
        if (stopping()) {
            interruption = "before run " + std::to_string(number) + " began";
            break;
        }
        listener.Show(number, 0.0, true);
        const size_t target = eachCore.empty() ? 0 : size_t((number - 1) % eachCore.size());
        if (!eachCore.empty()) {
            std::string problem;  // checked before the stress began
            driver.SetWorkerStartHook(PinnedWorker(eachCore[target].processor, problem));
        }
        RunRecord run = driver.Run(options.taskIndex, settings.threads, &listener, options.verify);
        if (!eachCore.empty()) run.processor = eachCore[target].processor;
        progressLine.Clear();
        report->Run(number, run);
        if (keepRuns) runs.push_back(run);
        tally.Add(number, run);
        if (tally.cores) tally.cores->Add(target, number, run);
        if (run.status == RunStatus::Wrong || run.status == RunStatus::Failed) {
            console.err << "vantrel-cli: " << FaultLine(run, number)
                        << (eachCore.empty() ? "" : "; computed on " + eachCore[target].name) << "\n";
            console.err.flush();
        }
        interruption = Interruption(run, number);
        if (!interruption.empty()) break;
        if (tally.errors > 0 && !options.keepGoing) break;
        // A start the engine refused (no memory, no thread) would be refused
        // again at once: no run can be made, however long the stress.
        if (run.status == RunStatus::Failed && !run.progressed) break;
    }
    stop = RunsStop{};
    const bool interrupted = interrupt.load();
    const bool closed = console.Closed(options.events);
    if (interrupted || closed) {
        stop.by = interrupted ? StopName() : kClosedOutputStop;
        if (!interruption.empty()) {
            stop.before = Clock::now() < deadline ? "the time was up" : "the last run ended";
        } else {
            interruption = "after the last run (run " + std::to_string(tally.runs) + ")";
        }
    }
    report->End(tally, std::chrono::duration<double>(Clock::now() - start).count(), interruption,
                VerdictOf(tally.outcome, stop));
    if (tally.errors > 0) return kExitFault;
    if (interrupted) return kExitInterrupted;
    return closed || console.Closed(options.events) ? kExitOutputClosed : kExitOk;
}
