#include "cli/BenchmarkSession.h"

#include <optional>

#include "cli/ProgressLine.h"
#include "cli/ReportWriter.h"
#include "cli/ResultSaver.h"
#include "cli/RunGridSource.h"
#include "cli/SaveFileName.h"
#include "engine/RunText.h"
#include "engine/TaskTable.h"

namespace {

// Prints the notifications ("progress INDEX PRIME", "finished INDEX PRIME",
// one a line) when asked to, and shows the window title's percentage
// (index * 100 / (N - 1)) on the progress line.
class RunPrinter final : public RunListener {
public:
    RunPrinter(std::ostream* events_, ProgressLine& progress_) : events(events_), progress(progress_) {}
    void Notified(const RunRecord& run, const Notification& notification) override {
        if (events != nullptr) {
            *events << (notification.message == WM_SEARCH_FINISHED ? "finished " : "progress ") << notification.index
                    << ' ' << notification.prime << '\n';
            events->flush();
        }
        if (notification.message != WM_SEARCH_PROGRESS) return;
        progress.Show(TitleText("Vantrel " + run.task + ", " + run.threadText, run.targetCount, notification.index, 1));
    }

private:
    std::ostream* events;  // null: not printed
    ProgressLine& progress;
};

std::string RunName(const RunRecord& run) { return "task " + run.task + " on " + run.threadText; }

}  // namespace

BenchmarkSession::BenchmarkSession(const RunnerOptions& options_, std::ostream& out_, std::ostream& err_,
                                   bool liveProgress_, const std::atomic<bool>& interrupt_)
    : options(options_), out(out_), err(err_), liveProgress(liveProgress_), interrupt(interrupt_), driver(interrupt_) {}

int BenchmarkSession::Run() {
    if (!CheckSaveTargets()) return kExitFault;
    int code = RunSettings();
    if (!SaveResults(code)) code = kExitFault;
    // A Ctrl-C during the saves does not cut them short: the writers finish.
    if (code == kExitOk && interrupt.load()) code = kExitInterrupted;
    return code;
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
    writer->Begin(CollectRunContext());

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
            RunRecord run = driver.Run(options.taskIndex, threads, &listener);
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
            if (run.status == RunStatus::Wrong) {
                err << "vantrel-cli: WRONG RESULT for " << RunName(run) << ": " << run.fault << "\n";
            } else {
                err << "vantrel-cli: the run of " << RunName(run) << " failed: " << run.fault << "\n";
            }
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
            err << "vantrel-cli: " << parsed.text << "\n" << UsageLine() << "\n";
            err.flush();
            return kExitUsage;
        case CliAction::Run: break;
    }
    BenchmarkSession session(parsed.options, out, err, liveProgress, interrupt);
    return session.Run();
}
