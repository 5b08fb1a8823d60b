#include "mpi/FleetRun.h"

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <memory>
#include <optional>
#include <thread>

#include "mpi/FleetOptions.h"
#include "mpi/FleetReport.h"
#include "mpi/FleetResults.h"
#include "results/ResultStore.h"
#include "runner/ExitCodes.h"
#include "runner/RunOptions.h"
#include "runner/SearchDriver.h"
#include "runner/Text.h"

namespace {

// How long a rank sleeps between looks at a collective it waits for: a
// rank whose run has ended must not spin on a core that a rank sharing its
// host still runs on.
constexpr std::chrono::microseconds kCollectivePause{200};

void Await(MPI_Request& request) {
    int done = 0;
    for (;;) {
        MPI_Test(&request, &done, MPI_STATUS_IGNORE);
        if (done != 0) return;
        std::this_thread::sleep_for(kCollectivePause);
    }
}

// The start of a run on every rank at once. Ranks that wait long (for rank
// 0's report) sleep in a first barrier, which leaves them up to a pause per
// round apart; a second, spinning one, entered by ranks that are all there
// by then, lines them up to microseconds.
void StartTogether() {
    MPI_Request request;
    MPI_Ibarrier(MPI_COMM_WORLD, &request);
    Await(request);
    MPI_Barrier(MPI_COMM_WORLD);
}

unsigned AllMax(unsigned value) {
    unsigned result = 0;
    MPI_Request request;
    MPI_Iallreduce(&value, &result, 1, MPI_UNSIGNED, MPI_MAX, MPI_COMM_WORLD, &request);
    Await(request);
    return result;
}

// Rank 0's value on every rank.
int FromRankZero(int value) {
    MPI_Request request;
    MPI_Ibcast(&value, 1, MPI_INT, 0, MPI_COMM_WORLD, &request);
    Await(request);
    return value;
}

class Fleet {
public:
    Fleet() {
        MPI_Comm_rank(MPI_COMM_WORLD, &rank);
        MPI_Comm_size(MPI_COMM_WORLD, &size);
    }

    bool Root() const { return rank == 0; }

    // Every rank's text on rank 0, in rank order (elsewhere empty): the sizes
    // first, then the bytes in one gather.
    std::vector<std::string> Gather(const std::string& text, FleetTally& tally) const {
        const auto start = std::chrono::steady_clock::now();
        int length = int(text.size());
        std::vector<int> lengths(Root() ? size_t(size) : 0);
        MPI_Request request;
        MPI_Igather(&length, 1, MPI_INT, lengths.data(), 1, MPI_INT, 0, MPI_COMM_WORLD, &request);
        Await(request);
        // MPI counts bytes in int: one gather holds less than 2 GiB (some
        // 175 bytes a run: 10,000 ranks of 1,000 repeats come near it).
        std::vector<int> offsets(lengths.size());
        int64_t total = 0;
        for (size_t i = 0; i < lengths.size(); ++i) {
            if (total > std::numeric_limits<int>::max() - int64_t(lengths[i])) {
                throw std::length_error("the ranks' results exceed the 2 GiB one gather can hold");
            }
            offsets[i] = int(total);
            total += lengths[i];
        }
        std::string bytes(size_t(total), '\0');
        MPI_Igatherv(text.data(), length, MPI_CHAR, bytes.data(), lengths.data(), offsets.data(), MPI_CHAR, 0,
                     MPI_COMM_WORLD, &request);
        Await(request);
        std::vector<std::string> texts;
        for (size_t i = 0; i < lengths.size(); ++i) texts.push_back(bytes.substr(size_t(offsets[i]), size_t(lengths[i])));
        if (Root()) {
            tally.gatheredBytes += uint64_t(total) + lengths.size() * sizeof(int);
            tally.gatherSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        return texts;
    }

    // This rank's host, and the lowest rank that shares its node's memory.
    RankInfo Info() const {
        RankInfo info;
        info.rank = rank;
        char name[MPI_MAX_PROCESSOR_NAME] = {};
        int length = 0;
        MPI_Get_processor_name(name, &length);
        info.host.assign(name, size_t(length));
        MPI_Comm node;
        MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &node);
        MPI_Allreduce(&rank, &info.node, 1, MPI_INT, MPI_MIN, node);
        MPI_Comm_free(&node);
        info.context = CollectRunContext();
        return info;
    }

    int rank = 0;
    int size = 1;
};

#ifdef VANTREL_FLEET_TEST_HOOKS
// Test builds only (vantrel-mpi-test): faults and delays on one rank, from
// the environment, as an engine or a node with that fault would give them.
//   VANTREL_FLEET_TEST_WRONG=R      rank R's searches end one prime too far
//   VANTREL_FLEET_TEST_SLOT=R       rank R's tables hold one wrong prime halfway
//   VANTREL_FLEET_TEST_SLOW=R:SEC   rank R's searches finish SEC seconds later
void InstallTestHooks(SearchDriver& driver, int rank) {
    auto here = [rank](const char* variable) {
        const char* value = std::getenv(variable);
        return value != nullptr && std::atoi(value) == rank;
    };
    const bool wrongHere = here("VANTREL_FLEET_TEST_WRONG");
    const bool slotHere = here("VANTREL_FLEET_TEST_SLOT");
    const char* seconds = here("VANTREL_FLEET_TEST_SLOW") ? std::strchr(std::getenv("VANTREL_FLEET_TEST_SLOW"), ':') : nullptr;
    const double delay = seconds != nullptr ? std::atof(seconds + 1) : 0.0;
    if (!wrongHere && !slotHere && delay == 0.0) return;
    driver.SetResultHook([wrongHere, slotHere, delay](uint32_t* primes, uint32_t lastIndex, Notification& finished) {
        if (wrongHere) {
            finished.prime += 2;
            primes[lastIndex - 1] += 2;
        }
        if (slotHere) primes[lastIndex / 2] += 2;
        finished.at += std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(delay));
    });
}
#endif

// As the runner does: the results are out before the store is tried, and a
// store that fails does not hide how the runs ended. Returns the exit code.
int Store(const std::string& path, const RunContext& context, const std::vector<std::string>& args,
          const std::string& label, const std::vector<RankInfo>& ranks, const std::vector<FleetSetting>& settings,
          int code, std::ostream& err) {
    const bool ran = std::any_of(settings.begin(), settings.end(), [](const FleetSetting& s) { return !s.rows.empty(); });
    if (!ran) {
        err << "vantrel-mpi: nothing was stored in \"" << OneLine(path) << "\": no run was made\n";
        err.flush();
        return code;
    }
    std::vector<std::string> commandLine = {"vantrel-mpi"};
    commandLine.insert(commandLine.end(), args.begin(), args.end());
    const std::string failure = StoreFleet(path, context, CommandLineText(commandLine), label, ranks, settings);
    if (failure.empty()) return code;
    err << "vantrel-mpi: " << failure << "\n";
    err.flush();
    return code == kExitOk ? kExitFault : code;
}

RunRecord RefusedRun(int taskIndex, uint16_t threads, const std::string& why) {
    RunRecord run = NewRunRecord(taskIndex, threads);
    run.status = RunStatus::Failed;
    run.fault = why;
    run.verdict = "failed: " + why;
    return run;
}

// Whether every rank runs: each reads the same command line to the same end;
// should one read it otherwise, none runs. The store is rank 0's, and so is
// the refusal of a label without one. Returns the exit code when the fleet
// does not run (rank 0 printed the help, the version or the refusal).
std::optional<int> Refused(const Fleet& fleet, const FleetParseOutcome& parsed, std::ostream& out, std::ostream& err) {
    const bool parsedHere = parsed.action == OptionTable::Ending::Parsed;
    const bool everyRankRuns = AllMax(parsedHere ? 0u : 1u) == 0;
    std::string refusal;
    if (!parsedHere) {
        refusal = parsed.action == OptionTable::Ending::UsageError ? parsed.text : "";
    } else if (!everyRankRuns) {
        refusal = "the ranks read the command line differently";
    } else if (parsed.options.labelGiven && fleet.Root() && StorePathFrom(parsed.options.db).empty()) {
        refusal = "--label goes with a result store; valid: --db FILE --label TEXT, or VANTREL_DB set";
    }
    if (FromRankZero(everyRankRuns && refusal.empty() ? 1 : 0) != 0) return std::nullopt;
    int code = kExitUsage;
    const bool shown = parsed.action == OptionTable::Ending::Help || parsed.action == OptionTable::Ending::Version;
    if (fleet.Root() && shown) {
        out << parsed.text;
        out.flush();
        code = kExitOk;
    } else if (fleet.Root()) {
        err << "vantrel-mpi: " << refusal << "\n" << FleetUsageLine() << "\n";
        err.flush();
    }
    return FromRankZero(code);
}

// Rank 0's header of the report: every rank's host and context.
FleetHeader HeaderOf(const FleetOptions& options, const RankInfo& info, const std::vector<std::string>& infos) {
    FleetHeader header;
    header.options = options;
    for (const std::string& text : infos) header.ranks.push_back(RankInfoFromText(text));
    header.hosts = FindSharedHosts(header.ranks);
    header.date = info.context.date;
    return header;
}

// One rank's runs of one setting, started together with every other rank's;
// `stop` turns true once some rank was stopped, `retired` once this rank's
// run was wrong or failed (it then runs no further setting, as the runner ends).
RankSetting RunSetting(const Fleet& fleet, const FleetOptions& options, SearchDriver& driver, uint16_t threads,
                       bool offered, uint32_t processors, const std::atomic<bool>& interrupt, bool& retired, bool& stop) {
    RankSetting part;
    part.rank = fleet.rank;
    if (!offered && !options.sweep) {
        part.runs.push_back(RefusedRun(options.taskIndex, threads, RefusedThreads(threads, processors)));
    }
    for (int repetition = 0; repetition < options.repeat && !stop; ++repetition) {
        StartTogether();
        if (offered && !retired && !interrupt.load()) {
            part.runs.push_back(driver.Run(options.taskIndex, threads, nullptr, options.verify));
            const RunStatus status = part.runs.back().status;
            retired = status == RunStatus::Wrong || status == RunStatus::Failed;
        }
        stop = AllMax(interrupt.load() ? 1u : 0u) != 0;
    }
    return part;
}

// Rank 0's view of a setting from every rank's gathered part.
FleetSetting Summarized(const FleetOptions& options, uint16_t threads, const std::vector<std::string>& texts) {
    std::vector<RankSetting> parts;
    for (const std::string& text : texts) {
        if (!text.empty()) parts.push_back(RankSettingFromText(text));
    }
    return SummarizeFleetSetting(options.taskIndex, threads, parts, options.repeat, options.outlierPercent);
}

}  // namespace

int RunFleet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& interrupt) {
    const Fleet fleet;
    const uint32_t processors = RankProcessors().usable;
    const FleetParseOutcome parsed = ParseFleetCommandLine(args, processors);
    if (const std::optional<int> code = Refused(fleet, parsed, out, err)) return *code;
    const FleetOptions& options = parsed.options;

    // The plan, the same on every rank: one count, or every count that some
    // rank offers (a rank sits out the counts its machine does not offer).
    const std::vector<uint16_t> offered = OfferedThreadCounts(processors);
    const std::vector<uint16_t> plan =
        options.sweep ? OfferedThreadCounts(AllMax(processors)) : std::vector<uint16_t>{options.threads};

    FleetTally tally;
    const RankInfo info = fleet.Info();
    const std::vector<std::string> infos = fleet.Gather(RankInfoText(info), tally);
    FleetHeader header;
    std::unique_ptr<FleetReportWriter> writer;
    const std::string storePath = fleet.Root() ? StorePathFrom(options.db) : std::string();
    std::vector<FleetSetting> stored;  // rank 0, for the store
    if (fleet.Root()) {
        header = HeaderOf(options, info, infos);
        writer = MakeFleetReportWriter(options.format, out);
        writer->Begin(header);
    }

    SearchDriver driver(interrupt);
    driver.SetWorkerStartHook(RankPlacement(parsed.options.bind, fleet.rank, err));
#ifdef VANTREL_FLEET_TEST_HOOKS
    InstallTestHooks(driver, fleet.rank);
#endif
    bool retired = false;
    bool stop = false;
    for (uint16_t threads : plan) {
        const bool here = std::find(offered.begin(), offered.end(), threads) != offered.end();
        const RankSetting part = RunSetting(fleet, options, driver, threads, here, processors, interrupt, retired, stop);
        const std::vector<std::string> texts = fleet.Gather(part.runs.empty() ? std::string() : RankSettingText(part), tally);
        if (fleet.Root()) {
            const FleetSetting setting = Summarized(options, threads, texts);
            tally.Add(setting);
            writer->Setting(setting);
            if (!storePath.empty()) stored.push_back(setting);
        }
        if (stop) break;
    }
    if (AllMax(interrupt.load() ? 1u : 0u) != 0) tally.stopped = true;
    int code = kExitOk;
    if (fleet.Root()) {
        writer->End(tally);
        code = tally.ExitCode(options.failOnOutlier);
        if (!storePath.empty()) code = Store(storePath, info.context, args, options.label, header.ranks, stored, code, err);
    }
    return FromRankZero(code);
}
