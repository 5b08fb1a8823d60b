#include "cli/BenchmarkSession.h"

#include <chrono>
#include <optional>

#include "cli/Charts.h"
#include "cli/ProgressLine.h"
#include "cli/ReportWriter.h"
#include "cli/ResultSaver.h"
#include "cli/ResultStore.h"
#include "cli/RunGridSource.h"
#include "cli/SaveFileName.h"
#include "cli/StressReport.h"
#include "engine/RunText.h"
#include "engine/TaskTable.h"

namespace {

// "progress INDEX PRIME" or "finished INDEX PRIME", one a line, when asked to.
void PrintEvent(std::ostream* events, const Notification& notification) {
    if (events == nullptr) return;
    *events << (notification.message == WM_SEARCH_FINISHED ? "finished " : "progress ") << notification.index << ' '
            << notification.prime << '\n';
    events->flush();
}

// Prints the notifications when asked to, and shows the window title's
// percentage (index * 100 / (N - 1)) on the progress line.
class RunPrinter final : public RunListener {
public:
    RunPrinter(std::ostream* events_, ProgressLine& progress_) : events(events_), progress(progress_) {}
    void Notified(const RunRecord& run, const Notification& notification) override {
        PrintEvent(events, notification);
        if (notification.message != WM_SEARCH_PROGRESS) return;
        progress.Show(TitleText("Vantrel " + run.task + ", " + run.threadText, run.targetCount, notification.index, 1));
    }

private:
    std::ostream* events;  // null: not printed
    ProgressLine& progress;
};

// Prints the notifications when asked to, and keeps the stress's live line
// up to date, at most ten times a second.
class StressPrinter final : public RunListener {
public:
    using Clock = std::chrono::steady_clock;
    StressPrinter(std::ostream* events_, ProgressLine& progress_, const StressSettings& settings_,
                  const StressTally& tally_, Clock::time_point start_)
        : events(events_), progress(progress_), settings(settings_), tally(tally_), start(start_) {}

    void Notified(const RunRecord& run, const Notification& notification) override {
        PrintEvent(events, notification);
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
    Clock::time_point shown{};
    uint64_t running = 0;
};

std::string RunName(const RunRecord& run) { return "task " + run.task + " on " + run.threadText; }

// The message for a run that did not verify; `number` names it among many.
std::string FaultLine(const RunRecord& run, uint64_t number) {
    const std::string name = RunName(run) + (number > 0 ? " (run " + std::to_string(number) + ")" : "");
    if (run.status == RunStatus::Wrong) return "WRONG RESULT for " + name + ": " + run.fault;
    return "the run of " + name + " failed: " + run.fault;
}

}  // namespace

BenchmarkSession::BenchmarkSession(const RunnerOptions& options_, std::ostream& out_, std::ostream& err_,
                                   bool liveProgress_, const std::atomic<bool>& interrupt_)
    : options(options_), out(out_), err(err_), liveProgress(liveProgress_), interrupt(interrupt_), driver(interrupt_) {}

int BenchmarkSession::Run() {
    if (!CheckSaveTargets()) return kExitFault;
    storePath = StorePathFrom(options.db);
    context = CollectRunContext();
    const int runsCode = options.stressSeconds > 0 ? RunStress() : RunSettings();
    int code = runsCode;
    if (!SaveResults(code)) code = kExitFault;
    // What ran is kept even when a run was wrong or stopped; a store or chart
    // that fails does not hide how the runs ended.
    const bool stored = StoreResults();
    const bool drawn = DrawChart(runsCode);
    // A Ctrl-C during the saves does not cut them short: the writers finish.
    if (code == kExitOk && interrupt.load()) code = kExitInterrupted;
    if (code == kExitOk && !(stored && drawn)) code = kExitFault;
    return code;
}

bool BenchmarkSession::StoreResults() {
    if (storePath.empty()) return true;
    if (runs.empty()) {
        err << "vantrel-cli: nothing was stored in \"" << OneLine(storePath) << "\": no run was made\n";
        err.flush();
        return true;
    }
    const std::string failure = StoreInvocation(storePath, context, options.commandLine, options.label, runs);
    if (failure.empty()) return true;
    err << "vantrel-cli: " << failure << "\n";
    err.flush();
    return false;
}

bool BenchmarkSession::DrawChart(int code) {
    if (options.plot.empty()) return true;
    if (code != kExitOk) {
        // Half a sweep would draw a misleading curve.
        err << "vantrel-cli: \"" << OneLine(options.plot) << "\" was not drawn: the sweep did not finish\n";
        err.flush();
        return true;
    }
    const std::string failure = PlotSweep(options.plot, SweepChartOf(runs, context));
    if (failure.empty()) return true;
    err << "vantrel-cli: " << failure << "\n";
    err.flush();
    return false;
}

bool BenchmarkSession::CheckSaveTargets() {
    // A folder that is not there is found before a run that may take
    // minutes, not after it.
    bool ok = true;
    for (const std::string* name : {&options.savePrimes, &options.saveGrid}) {
        if (name->empty()) continue;
        const std::string problem = SaveTargetProblem(*name);
        if (problem.empty()) continue;
        err << "vantrel-cli: " << problem << "\n";
        ok = false;
    }
    err.flush();
    return ok;
}

bool BenchmarkSession::SaveResults(int code) {
    if (options.savePrimes.empty() && options.saveGrid.empty()) return true;
    // Only a finished or a stopped run is saved: the primes of a wrong or
    // refused run are not the last run's results.
    std::string notSaved;
    if (code == kExitFault) {
        notSaved = "the run did not succeed";
    } else if (runs.empty()) {
        notSaved = "no run was made";
    } else if (Coordinator().primes == nullptr) {
        notSaved = "the run left no primes";
    }
    if (!notSaved.empty()) {
        for (const std::string* name : {&options.savePrimes, &options.saveGrid}) {
            if (!name->empty()) err << "vantrel-cli: \"" << OneLine(*name) << "\" was not saved: " << notSaved << "\n";
        }
        err.flush();
        return true;
    }

    ResultSaver saver(err, liveProgress);
    bool ok = true;
    auto report = [&](const std::string& failure) {
        if (failure.empty()) return;
        err << "vantrel-cli: " << failure << "\n";
        err.flush();
        ok = false;
    };
    if (!options.savePrimes.empty()) {
        // The slots the last run filled, as Save Primes writes them: lastIndex of them.
        report(saver.SavePrimes(options.savePrimes, Coordinator().primes, Coordinator().lastIndex));
    }
    if (!options.saveGrid.empty()) {
        RunGridSource rows(runs);
        report(saver.SaveGrid(options.saveGrid, rows));
    }
    return ok;
}

int BenchmarkSession::RunSettings() {
    std::ostream& reportOut = options.events ? err : out;
    std::unique_ptr<ReportWriter> writer = MakeReportWriter(options.format, reportOut, options.sweep, options.repeat);
    writer->Begin(context);

    ProgressLine progressLine(err, liveProgress);
    RunPrinter listener(options.events ? &out : nullptr, progressLine);

    std::optional<double> oneThreadSeconds;
    for (uint16_t threads : options.threadCounts) {
        std::vector<RunRecord> finished;
        for (int repetition = 0; repetition < options.repeat; ++repetition) {
            if (interrupt.load()) {
                writer->End();
                return kExitInterrupted;
            }
            RunRecord run = driver.Run(options.taskIndex, threads, &listener, options.verify);
            progressLine.Clear();
            runs.push_back(run);
            if (run.status == RunStatus::Finished) {
                finished.push_back(run);
                continue;
            }
            // The first run that did not finish ends the session, with its own row.
            SettingResult result;
            result.row = run;
            result.repeats = options.repeat;
            writer->Row(result);
            writer->End();
            if (run.status == RunStatus::Stopped) return kExitInterrupted;
            const bool several = options.threadCounts.size() > 1 || options.repeat > 1;
            err << "vantrel-cli: " << FaultLine(run, several ? runs.size() : 0) << "\n";
            err.flush();
            return kExitFault;
        }
        SettingResult result = SummarizeSetting(finished, options.repeat);
        if (options.sweep) {
            if (threads == 1) oneThreadSeconds = result.minSeconds;
            if (oneThreadSeconds) SetSpeedup(result, *oneThreadSeconds);
        }
        writer->Row(result);
    }
    writer->End();
    return interrupt.load() ? kExitInterrupted : kExitOk;
}

int BenchmarkSession::RunStress() {
    using Clock = std::chrono::steady_clock;
    StressSettings settings;
    settings.task = TaskTable::Label(options.taskIndex);
    settings.threads = options.threadCounts.front();
    settings.threadText = ThreadCountText(settings.threads);
    settings.seconds = options.stressSeconds;
    settings.verify = options.verify;
    std::unique_ptr<StressReport> report = MakeStressReport(options.format, options.events ? err : out);
    report->Begin(context, settings);

    StressTally tally;
    ProgressLine progressLine(err, liveProgress);
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::seconds(options.stressSeconds);
    StressPrinter listener(options.events ? &out : nullptr, progressLine, settings, tally, start);
    std::string interruption;
    // The run under way at the deadline is finished, not cut short.
    for (uint64_t number = 1; Clock::now() < deadline; ++number) {
        if (interrupt.load()) {
            interruption = "before run " + std::to_string(number) + " began";
            break;
        }
        listener.Show(number, 0.0, true);
        RunRecord run = driver.Run(options.taskIndex, settings.threads, &listener, options.verify);
        progressLine.Clear();
        report->Run(number, run);
        if (!options.saveGrid.empty() || !storePath.empty()) runs.push_back(run);
        if (run.status != RunStatus::Stopped) tally.Add(number, run);
        if (run.status == RunStatus::Wrong || run.status == RunStatus::Failed) {
            err << "vantrel-cli: " << FaultLine(run, number) << "\n";
            err.flush();
        }
        // A run ends early only when stopped, or when a stopped run's primes are wrong.
        if (run.status == RunStatus::Stopped || (run.status != RunStatus::Finished && interrupt.load())) {
            interruption = "run " + std::to_string(number) + " stopped" +
                           (run.progressed ? " at " + run.primeText : std::string()) + ", " + run.verdict;
            break;
        }
        if (tally.errors > 0 && !options.keepGoing) break;
        // A start the engine refused (no memory, no thread) would be refused
        // again at once: no run can be made, however long the stress.
        if (run.status == RunStatus::Failed && !run.progressed) break;
    }
    report->End(tally, std::chrono::duration<double>(Clock::now() - start).count(), interruption);
    if (tally.errors > 0) return kExitFault;
    return interruption.empty() ? kExitOk : kExitInterrupted;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool liveProgress,
           const std::atomic<bool>& interrupt) {
    const ParseOutcome parsed = ParseCommandLine(args, LogicalProcessors());
    switch (parsed.action) {
        case CliAction::Help:
        case CliAction::Version:
            out << parsed.text;
            out.flush();
            return kExitOk;
        case CliAction::UsageError:
            err << "vantrel-cli: " << parsed.text << "\n" << parsed.usage << "\n";
            err.flush();
            return kExitUsage;
        case CliAction::History: {
            HistoryOptions options = parsed.history;
            options.db = StorePathFrom(options.db);
            return RunHistory(options, out, err);
        }
        case CliAction::Compare: return RunCompare(parsed.compare, out, err);
        case CliAction::Run: break;
    }
    BenchmarkSession session(parsed.options, out, err, liveProgress, interrupt);
    return session.Run();
}
