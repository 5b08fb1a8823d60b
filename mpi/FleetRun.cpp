#include "mpi/FleetRun.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "engine/RunText.h"
#include "engine/Text.h"
#include "machine/MachineSampler.h"
#include "machine/Processors.h"
#include "mpi/FleetComm.h"
#include "mpi/FleetOptions.h"
#include "mpi/FleetReport.h"
#include "mpi/FleetResults.h"
#include "mpi/FleetStore.h"
#include "mpi/FleetVerdict.h"
#include "results/ResultStore.h"
#include "runner/EachCore.h"
#include "runner/ExitCodes.h"
#include "runner/RunOptions.h"
#include "runner/SearchDriver.h"

namespace {

#ifdef VANTREL_FLEET_TEST_HOOKS
// Test builds only (vantrel-mpi-test): faults and delays on one rank, from
// the environment, as an engine or a node with that fault would give them.
//   VANTREL_FLEET_TEST_WRONG=R      rank R's searches end one prime too far
//   VANTREL_FLEET_TEST_SLOT=R       rank R's tables hold one wrong prime halfway
//   VANTREL_FLEET_TEST_SLOW=R:SEC   rank R's searches finish SEC seconds later
//   VANTREL_FLEET_TEST_GATHER=BYTES a setting's gather holds at most BYTES
//   VANTREL_FLEET_TEST_STOP=R:K     rank R is sent SIGTERM at its run K's first progress
//   VANTREL_FLEET_TEST_CORE=R:P     rank R's tables hold one wrong prime halfway when its worker ran on processor P
class TestStopper final : public RunListener {
public:
    explicit TestStopper(int rank) {
        const char* value = std::getenv("VANTREL_FLEET_TEST_STOP");
        const char* run = value != nullptr ? std::strchr(value, ':') : nullptr;
        if (run != nullptr && std::atoi(value) == rank) stopAt = std::atoi(run + 1);
    }
    void Started() { ++runs; }
    void Notified(const RunRecord&, const Notification&) override {
        if (runs == stopAt && !sent) std::raise(SIGTERM);
        sent = sent || runs == stopAt;
    }

private:
    int stopAt = 0;
    int runs = 0;
    bool sent = false;
};

void InstallTestHooks(SearchDriver& driver, FleetComm& comm) {
    const int rank = comm.rank;
    auto here = [rank](const char* variable) {
        const char* value = std::getenv(variable);
        return value != nullptr && std::atoi(value) == rank;
    };
    if (const char* limit = std::getenv("VANTREL_FLEET_TEST_GATHER")) comm.gatherLimit = std::atoll(limit);
    const bool wrongHere = here("VANTREL_FLEET_TEST_WRONG");
    const bool slotHere = here("VANTREL_FLEET_TEST_SLOT");
    const char* seconds = here("VANTREL_FLEET_TEST_SLOW") ? std::strchr(std::getenv("VANTREL_FLEET_TEST_SLOW"), ':') : nullptr;
    const double delay = seconds != nullptr ? std::atof(seconds + 1) : 0.0;
    const char* core = here("VANTREL_FLEET_TEST_CORE") ? std::strchr(std::getenv("VANTREL_FLEET_TEST_CORE"), ':') : nullptr;
    const int faultyProcessor = core != nullptr ? std::atoi(core + 1) : -1;
    if (!wrongHere && !slotHere && delay == 0.0 && faultyProcessor < 0) return;
    // Where the run's worker sent its last notification from.
    auto ranOn = std::make_shared<std::atomic<int>>(-1);
    if (faultyProcessor >= 0) driver.SetNotifyHook([ranOn](const Notification&) { ranOn->store(sched_getcpu()); });
    driver.SetResultHook([wrongHere, slotHere, delay, faultyProcessor, ranOn](uint32_t* primes, uint32_t lastIndex,
                                                                             Notification& finished) {
        if (wrongHere) {
            finished.prime += 2;
            primes[lastIndex - 1] += 2;
        }
        if (slotHere || (faultyProcessor >= 0 && ranOn->exchange(-1) == faultyProcessor)) primes[lastIndex / 2] += 2;
        finished.at += std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(delay));
    });
}
#endif

// FNV-1a: ranks compare their options by it before they send them.
uint64_t Digest(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

// Whether every rank was given the options rank 0 was: on rank 0, the line
// that names the ranks that were not; empty when all were, and elsewhere.
std::string OptionsMismatchOf(FleetComm& comm, const FleetOptions& options) {
    std::string text;
    for (const std::string& piece : CanonicalOptions(options)) text += (text.empty() ? "" : "\n") + piece;
    if (comm.Same(Digest(text))) return {};
    FleetTally unused;
    const std::optional<std::vector<std::string>> texts = comm.Gather(text, "the ranks' options", unused);
    if (!comm.Root()) return {};
    if (!texts) return "the ranks were given different options; every rank must be given the same, so nothing was run";
    std::vector<std::vector<std::string>> byRank;
    for (const std::string& each : *texts) byRank.push_back(Lines(each));
    return OptionsMismatch(byRank);
}

// Whether every rank runs: each reads its command line, and all must reach
// the same options; should one read it otherwise, none runs. The store is
// rank 0's, and so is the refusal of a label without one. Returns the exit
// code when the fleet does not run (rank 0 printed the help, the version or
// the refusal).
std::optional<int> Refused(FleetComm& comm, const FleetParseOutcome& parsed, std::ostream& out, std::ostream& err) {
    const bool parsedHere = parsed.action == OptionTable::Ending::Parsed;
    const bool everyRankRuns = comm.AllMax(parsedHere ? 0u : 1u) == 0;
    std::string refusal;
    bool usage = true;
    if (!parsedHere) {
        refusal = parsed.action == OptionTable::Ending::UsageError ? parsed.text : "";
    } else if (!everyRankRuns) {
        refusal = "the ranks read the command line differently";
    } else if (std::string mismatch = OptionsMismatchOf(comm, parsed.options); !mismatch.empty()) {
        refusal = std::move(mismatch);
        usage = false;
    } else if (comm.Root() && !StoreVariableProblem(parsed.options.db).empty()) {
        refusal = StoreVariableProblem(parsed.options.db);
    } else if (parsed.options.labelGiven && comm.Root() && StorePathFrom(parsed.options.db).empty()) {
        refusal = "--label goes with a result store; valid: --db FILE --label TEXT, or VANTREL_DB set";
    }
    if (comm.FromRankZero(everyRankRuns && refusal.empty() ? 1 : 0) != 0) return std::nullopt;
    int code = kExitUsage;
    const bool shown = parsed.action == OptionTable::Ending::Help || parsed.action == OptionTable::Ending::Version;
    if (comm.Root() && shown) {
        out << parsed.text;
        out.flush();
        code = kExitOk;
    } else if (comm.Root()) {
        err << "vantrel-mpi: " << refusal << "\n";
        if (usage) err << FleetUsageLine() << "\n";
        err.flush();
    }
    return comm.FromRankZero(code);
}

// Ranks did not arrive, and there is no report to end: rank 0 names them,
// and rank 1 says when rank 0 is the one that did not.
FleetEnd Abandon(const FleetComm& comm, const FleetLoss& loss, std::ostream& err) {
    if (comm.Root()) {
        err << "vantrel-mpi: " << Plural(loss.ranks.size(), "rank", "ranks") << " (" << RankRanges(loss.ranks)
            << ") did not answer " << WaitedText(loss) << ", at " << loss.step
            << "; the job was ended\n";
    } else if (comm.rank == 1) {
        err << "vantrel-mpi: rank 0 did not answer for " << DurationText(loss.seconds) << " (more than twice --deadline), at "
            << loss.step << "; rank 1 ended the job, without a report\n";
    }
    err.flush();
    return {kExitFault, true};
}

RunRecord RefusedRun(int taskIndex, uint16_t threads, const std::string& why) {
    RunRecord run = NewRunRecord(taskIndex, threads);
    run.status = RunStatus::Failed;
    run.fault = why;
    run.verdict = "failed: " + why;
    return run;
}

// The fleet's run on this rank, and on rank 0 its report and store.
class FleetJob {
public:
    FleetJob(FleetComm& comm_, const FleetOptions& options_, const ProcessorFacts& processors_,
             const std::vector<std::string>& args_, std::ostream& out_, std::ostream& err_,
             const std::atomic<bool>& interrupt_)
        : comm(comm_), options(options_), processors(processors_), args(args_), out(out_), err(err_),
          interrupt(interrupt_) {}

    FleetEnd Run() {
        try {
            if (!Begin()) return {comm.FromRankZero(kExitFault), false};
            RunPlan();
            comm.SetStep("the end of the job");
            if (comm.AllMax(interrupt.load() ? 1u : 0u) != 0) tally.stopped = true;
            return {comm.FromRankZero(Finish()), false};
        } catch (const FleetLost& lost) {
            return Abandoned(lost.loss);
        }
    }

private:
    // Every rank's host and context on rank 0, and the report's start.
    bool Begin() {
        if (!processors.unusedTopology.empty()) {
            err << "vantrel-mpi: rank " << comm.rank << ": " << processors.unusedTopology << "\n" << std::flush;
        }
        BindMode bind = options.bind;
        placement = RankPlacement(bind, processors, comm.rank, err);
        info = comm.Info(processors, bind);
        info.context.sensors = sampler.Sources();
        const auto infos = comm.Gather(RankInfoText(info), "the ranks' contexts", tally);
        if (!infos) {
            if (comm.Root()) err << "vantrel-mpi: " << tally.gatherFailure << "\n";
            return false;
        }
        if (!comm.Root()) return true;
        header.options = options;
        for (const std::string& text : *infos) header.ranks.push_back(RankInfoFromText(text));
        header.hosts = FindSharedHosts(header.ranks);
        header.date = info.context.date;
        writer = MakeFleetReportWriter(options.format, out);
        writer->Begin(header);
        if (const std::string path = StorePathFrom(options.db); !path.empty()) {
            std::vector<std::string> commandLine = {"vantrel-mpi"};
            commandLine.insert(commandLine.end(), args.begin(), args.end());
            StoredInvocation head;
            head.context = info.context;
            head.commandLine = CommandLineText(commandLine);
            head.label = options.label;
            store.emplace(path, std::move(head));
        }
        return true;
    }

    // The plan, the same on every rank: one count, or every count that some
    // rank runs (a rank sits out the counts it does not run).
    void RunPlan() {
        const uint16_t every = EveryProcessor(processors.usable);
        const bool all = !options.sweep && options.threads == kAllThreads;
        const std::vector<uint16_t> mine = options.sweep ? OfferedThreadCounts(processors.usable)
                                           : all         ? std::vector<uint16_t>{every}
                                                         : std::vector<uint16_t>{options.threads};
        const std::vector<uint16_t> plan = options.sweep || all ? comm.AllCounts(mine) : mine;
        if (options.eachCore) PlanPlaces();
        SearchDriver driver(interrupt);
        driver.SetSampler(&sampler);
        driver.SetWorkerStartHook(std::move(placement));
#ifdef VANTREL_FLEET_TEST_HOOKS
        InstallTestHooks(driver, comm);
#endif
        for (uint16_t threads : plan) {
            const bool here = std::find(mine.begin(), mine.end(), threads) != mine.end() && threads <= every;
            const RankSetting part = RunSetting(driver, threads, here, options.sweep || all);
            const std::string name = TaskTable::Label(options.taskIndex) + " on " + ThreadCountText(threads);
            comm.SetStep("the gather of " + name);
            const auto texts = comm.Gather(part.runs.empty() ? std::string() : RankSettingText(part),
                                           "the ranks' results of " + name, tally);
            if (!texts) return;
            if (comm.Root()) Report(threads, *texts);
            if (stop) return;
        }
    }

    // This rank's runs of one setting, started together with every other
    // rank's; `stop` turns true once some rank was stopped, `retired` once
    // this rank's run was wrong or failed (it then runs no further setting,
    // as the runner ends). A rank that does not run `threads` reports it
    // refused, unless it sitsOut: a count of a sweep, or of all, that other
    // ranks' machines run.
    RankSetting RunSetting(SearchDriver& driver, uint16_t threads, bool offered, bool sitsOut) {
        RankSetting part;
        part.rank = comm.rank;
        if (!offered && !sitsOut) {
            part.runs.push_back(RefusedRun(options.taskIndex, threads, RefusedThreads(threads, processors)));
        }
        // Each core in turn: every rank takes as many turns as the rank of
        // the most places, and sits out those it has no place for.
        const int turns = options.repeat * int(options.eachCore ? turnsPerRepeat : 1);
        const std::string of = " of " + std::to_string(turns) + " of " + TaskTable::Label(options.taskIndex) +
                               " on " + ThreadCountText(threads);
        std::optional<CoreTally> cores;
        if (options.eachCore) cores.emplace(places, options.bind == BindMode::Pus);
        if (options.eachCore && !placesProblem.empty()) {
            part.runs.push_back(RefusedRun(options.taskIndex, threads, placesProblem));
        }
        for (int turn = 0; turn < turns && !stop; ++turn) {
            comm.SetStep("the start of run " + std::to_string(turn + 1) + of);
            comm.StartTogether();
            const size_t place = options.eachCore ? size_t(turn) % turnsPerRepeat : 0;
            const bool placed = !options.eachCore || place < places.size();
            if (offered && !retired && placed && !interrupt.load()) {
                RunListener* listener = nullptr;
#ifdef VANTREL_FLEET_TEST_HOOKS
                stopper.Started();
                listener = &stopper;
#endif
                if (options.eachCore) {
                    std::string problem;  // a rank that cannot place its worker has no places
                    driver.SetWorkerStartHook(PinnedWorker(places[place].processor, problem));
                }
                part.runs.push_back(driver.Run(options.taskIndex, threads, listener, options.verify));
                RunRecord& run = part.runs.back();
                if (options.eachCore) {
                    run.processor = places[place].processor;
                    cores->Add(place, part.runs.size(), run);
                }
                // A wrong core does not end a burn-in of each core: the others are still to be found.
                retired = run.status == RunStatus::Failed || (run.status == RunStatus::Wrong && !options.eachCore);
            }
            comm.SetStep("the end of run " + std::to_string(turn + 1) + of);
            stop = comm.AllMax(interrupt.load() ? 1u : 0u) != 0;
        }
        if (cores) part.findings = cores->Findings();
        return part;
    }

    // This rank's places for --each-core, and the turns every rank takes.
    void PlanPlaces() {
        // A rank that cannot place its worker runs nothing and says why in its row.
        placesProblem = EachCoreProblem(processors, options.bind, places);
        if (!placesProblem.empty()) places.clear();
        turnsPerRepeat = std::max(comm.AllMax(unsigned(places.size())), 1u);
    }

    // Rank 0: a gathered setting, out and kept as soon as it is complete.
    void Report(uint16_t threads, const std::vector<std::string>& texts) {
        std::vector<RankSetting> parts;
        for (const std::string& text : texts) {
            if (!text.empty()) parts.push_back(RankSettingFromText(text));
        }
        const FleetSetting setting =
            SummarizeFleetSetting(options.taskIndex, threads, parts, options.repeat, options.outlierPercent,
                                  header.hosts.sharesHost);
        tally.Add(setting);
        writer->Setting(setting);
        Store(setting);
    }

    // Rank 0: the report's end with the verdict. Returns the exit code the
    // verdict goes with.
    int Finish() {
        ended = true;
        if (!comm.Root()) return kExitOk;
        if (store && !store->Stored() && tally.storeFailure.empty()) {
            err << "vantrel-mpi: nothing was stored in \"" << OneLine(store->Path()) << "\": no run was made\n";
            err.flush();
        }
        writer->End(tally);
        const FleetVerdict verdict = JudgeFleet(tally, header.ranks, options);
        code = verdict.exitCode;
        if (store) {
            // A job cut short is stored with the verdict that says how.
            const bool early = stop || tally.stopped || tally.loss || !tally.gatherFailure.empty();
            const std::string failure = store->End(early ? verdict.text : std::string());
            if (!failure.empty()) {
                tally.storeFailure = failure;
                err << "vantrel-mpi: " << failure << "\n";
                err.flush();
                if (code == kExitOk) code = kExitFault;
            }
        }
        return code;
    }

    // As the runner does: the results are out before the store is tried, and
    // a store that fails does not hide how the runs ended.
    void Store(const FleetSetting& setting) {
        if (!store) return;
        const std::string failure = store->Add(setting, header.ranks);
        if (failure.empty()) return;
        tally.storeFailure = failure;
        err << "vantrel-mpi: " << failure << "\n";
        err.flush();
    }

    // Ranks did not arrive: rank 0 ends its report with them.
    FleetEnd Abandoned(const FleetLoss& loss) {
        if (comm.Root() && ended) return {code, true};  // the report is whole: lost at the last word
        if (comm.Root() && writer) {
            tally.loss = loss;
            return {Finish(), true};
        }
        return Abandon(comm, loss, err);
    }

    FleetComm& comm;
    const FleetOptions& options;
    const ProcessorFacts& processors;  // this rank's
    const std::vector<std::string>& args;
    std::ostream& out;
    std::ostream& err;
    const std::atomic<bool>& interrupt;
    MachineSampler sampler{OpenSensorReader(UsableProcessors(processors)), kSampleInterval};  // this rank's node
    RankInfo info;
    WorkerStartHook placement;  // as the context states it
#ifdef VANTREL_FLEET_TEST_HOOKS
    TestStopper stopper{comm.rank};
#endif
    bool retired = false;
    bool stop = false;
    std::vector<CoreTarget> places;  // --each-core: this rank's, in turn
    std::string placesProblem;       // why it has none
    unsigned turnsPerRepeat = 1;
    bool ended = false;
    int code = kExitOk;
    // Rank 0's.
    FleetTally tally;
    FleetHeader header;
    std::unique_ptr<FleetReportWriter> writer;
    std::optional<FleetStore> store;
};

}  // namespace

FleetEnd RunFleet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  const std::atomic<bool>& interrupt) {
    FleetComm comm;
    // Each rank reads its own binding, CPU set and quota.
    const ProcessorFacts processors = ReadProcessorFacts();
    const FleetParseOutcome parsed = ParseFleetCommandLine(args, processors);
    if (parsed.action == OptionTable::Ending::Parsed) comm.SetDeadline(parsed.options.deadlineSeconds);
    comm.SetStop(&interrupt);
    try {
        if (const std::optional<int> code = Refused(comm, parsed, out, err)) return {*code, false};
    } catch (const FleetLost& lost) {
        return Abandon(comm, lost.loss, err);
    }
    return FleetJob(comm, parsed.options, processors, args, out, err, interrupt).Run();
}
