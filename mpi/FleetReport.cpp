#include "mpi/FleetReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "engine/Text.h"
#include "mpi/FleetVerdict.h"
#include "runner/JsonForms.h"
#include "runner/ReportWriter.h"
#include "runner/TextTable.h"

namespace {

using Json = nlohmann::ordered_json;

std::string Percent(double value) { return FormatFixed2(value) + "%"; }

std::string SettingName(const FleetSetting& setting) {
    return TaskTable::Label(setting.taskIndex) + " on " + ThreadCountText(setting.threads);
}

// The time a row shows: a verified rank's median, else the time of its last progress.
std::string RowTime(const FleetRow& row) { return row.seconds ? TimeText(*row.seconds) : row.result.row.timeText; }

// A rank's verified runs, then the stopped one: "run 3 of 3 stopped".
std::string StoppedAfterText(const FleetRow& row) {
    return "run " + std::to_string(row.runs.size()) + " of " + std::to_string(row.result.repeats) + " stopped";
}

// The outliers of a setting, slowest first.
std::vector<const FleetRow*> OutliersOf(const FleetSetting& setting) {
    std::vector<const FleetRow*> rows;
    for (const FleetRow& row : setting.rows) {
        if (row.outlier) rows.push_back(&row);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const FleetRow* a, const FleetRow* b) { return *a->slowerPercent > *b->slowerPercent; });
    return rows;
}

// One line for ranks that failed alike: where, which setting, the prime
// expected and the one found, and why.
std::string FailureLine(const FleetHeader& header, const FailureGroup& group) {
    const FleetFailure& failure = group.first;
    const RunRecord& run = failure.run;
    const std::string where = group.ranks.size() == 1 ? " on " + RankName(header.ranks[size_t(failure.rank)])
                                                      : " for " + RanksText(group.ranks, header.ranks);
    const std::string text = std::string(StatusLabel(run.status)) + where + ", task " + run.task + " on " +
                             run.threadText + ": ";
    if (run.status != RunStatus::Wrong) return text + run.fault;
    // The digest finds a wrong table behind a right last prime.
    if (run.progressed && run.prime == failure.expectedPrime) {
        return text + "last prime " + std::to_string(run.prime) + " as expected, but " + run.fault;
    }
    return text + "expected prime " + std::to_string(failure.expectedPrime) + ", found " + std::to_string(run.prime) +
           " (" + run.fault + ")";
}

// The lines that say what ended the fleet besides its runs: ranks lost, a
// gather too large, a store that failed.
std::vector<std::string> EndingLines(const FleetHeader& header, const FleetTally& tally) {
    std::vector<std::string> lines;
    if (tally.loss) {
        const FleetLoss& loss = *tally.loss;
        std::string hosts;
        for (int rank : loss.ranks) {
            const std::string& host = header.ranks[size_t(rank)].host;
            if (hosts.find(host) == std::string::npos) hosts += (hosts.empty() ? "" : ", ") + host;
        }
        lines.push_back("NO ANSWER from " + Plural(loss.ranks.size(), "rank", "ranks") + " (" + RankRanges(loss.ranks) +
                        " on " + hosts + ") " + WaitedText(loss) + ", at " + loss.step +
                        ": stopped, hung or gone; rank 0 reported what it had and ended the job");
    }
    if (!tally.gatherFailure.empty()) lines.push_back(tally.gatherFailure);
    return lines;
}

std::string Quantile(const std::vector<double>& sorted, double q) {
    return SecondsText(sorted[size_t(std::lround(q * double(sorted.size() - 1)))]);
}

// What tells the ranks' machines apart, shown as a column where ranks differ
// and else once in the header: each column's cell, and its words there.
struct MachineColumn {
    std::string head;
    std::function<std::string(const RunContext&)> cell;
    std::function<std::string(const RunContext&)> words;
};

// The processors a rank may use, where fewer than its machine's (the MPI
// launcher's binding, a CPU set, a quota): its cell names them, "1 usable
// (CPU set 3)"; the header's words only count them, as the sets differ
// from rank to rank.
bool Bound(const RunContext& c) { return c.processors.usable > 0 && c.processors.usable < c.logicalProcessors; }

std::vector<MachineColumn> MachineColumns() {
    return {{"CPU", [](const RunContext& c) { return c.cpu; }, [](const RunContext& c) { return c.cpu; }},
            {"Logical Processors", [](const RunContext& c) { return std::to_string(c.logicalProcessors); },
             [](const RunContext& c) { return Plural(c.logicalProcessors, "logical processor", "logical processors"); }},
            {"Usable",
             [](const RunContext& c) {
                 if (!Bound(c)) return std::string("all");
                 const std::string& reason = c.processors.reason;
                 return std::to_string(c.processors.usable) + " usable" + (reason.empty() ? "" : " (" + reason + ")");
             },
             [](const RunContext& c) { return Bound(c) ? std::to_string(c.processors.usable) + " usable" : std::string(); }}};
}

class FleetTable final : public FleetReportWriter {
public:
    explicit FleetTable(std::ostream& out_) : out(out_) {}

    void Begin(const FleetHeader& header_) override {
        header = header_;
        summarised = header.ranks.size() > kScreenfulRanks;
        const RunContext& first = header.ranks.front().context;
        out << "Vantrel " << first.version << " fleet | " << Plural(header.ranks.size(), "rank", "ranks") << " on "
            << Plural(size_t(header.hosts.distinctHosts), "host", "hosts") << " | task "
            << TaskTable::Label(header.options.taskIndex) << " | " << first.compiler << ", " << first.bits << "-bit "
            << first.buildType << " | " << header.date << "\n";
        WriteSharedHosts();
        WriteMachines();
        if (summarised) {
            out << "More ranks than a screenful: each setting shows its failures and outliers in full and the other "
                   "ranks as a distribution (every row: --format csv or json).\n";
        }
        out << "\n";
        std::vector<size_t> widths = {4, 4};
        for (const MachineColumn& column : shown) widths.push_back(column.head.size());
        for (size_t width : {size_t(4), size_t(12), header.options.repeat > 1 ? size_t(11) : size_t(9), size_t(12)}) {
            widths.push_back(width);
        }
        table = TextTable(widths);
        for (const RankInfo& info : header.ranks) table.Fit(MachineCells(info, {info.host, std::to_string(info.rank)}));
        out.flush();
    }

    void Setting(const FleetSetting& setting) override {
        for (const FleetRow& row : setting.rows) {
            const std::string& verdict = row.result.row.verdict;
            const bool failed = row.status == RunStatus::Wrong || row.status == RunStatus::Failed;
            if (!failed && !verdict.empty() && std::find(verdicts.begin(), verdicts.end(), verdict) == verdicts.end()) {
                verdicts.push_back(verdict);
            }
        }
        const std::vector<const FleetRow*> outliers = OutliersOf(setting);
        if (summarised) {
            const std::vector<FailureGroup> failures = GroupFailures(FailuresOf(setting));
            if (!failures.empty() || !outliers.empty()) WriteColumnHeads();
            for (const FailureGroup& group : failures) WriteFailureRow(setting, group);
            for (const FleetRow* row : outliers) WriteRow(setting, *row, "");
        } else {
            WriteColumnHeads();
            for (const FleetRow& row : setting.rows) WriteRow(setting, row, "");
        }
        const std::string name = TaskTable::Label(setting.taskIndex) + ", " + ThreadCountText(setting.threads);
        if (setting.verified == 0) {
            out << name << ": no rank verified a result\n";
        } else {
            out << name << ": fleet min " << SecondsText(setting.minSeconds) << ", median " << SecondsText(setting.medianSeconds)
                << ", max " << SecondsText(setting.maxSeconds) << ", spread " << Percent(setting.spreadPercent) << " over "
                << Plural(size_t(setting.verified), "verified rank", "verified ranks") << "\n";
        }
        for (const FleetRow* row : outliers) {
            out << "  outlier: " << RankName(header.ranks[size_t(row->rank)]) << ", " << Percent(*row->slowerPercent)
                << " slower than the fleet median (" << SecondsText(*row->seconds) << ")\n";
        }
        for (const FleetRow& row : setting.rows) {
            for (const std::string& finding : row.findings) {
                out << "  each core: " << RankName(header.ranks[size_t(row.rank)]) << ": " << finding << "\n";
            }
        }
        // Beyond a screenful the rows are not all shown: the nodes whose machine was taken are named here.
        if (summarised) {
            for (const FleetRow& row : setting.rows) {
                if (row.machineNote.empty()) continue;
                out << "  machine: " << RankName(header.ranks[size_t(row.rank)]) << ", " << row.machineNote << "\n";
            }
        }
        if (summarised) WriteDistribution(setting);
        out << "\n";
        out.flush();
    }

    void End(const FleetTally& tally) override {
        // What was verified, once for every verdict (failures have their own lines).
        for (const std::string& verdict : verdicts) out << verdict << "\n";
        for (const FailureGroup& group : GroupFailures(tally.failures)) out << FailureLine(header, group) << "\n";
        for (const std::string& line : EndingLines(header, tally)) out << line << "\n";
        out << "Fleet: " << Plural(header.ranks.size(), "rank", "ranks") << " on "
            << Plural(size_t(header.hosts.distinctHosts), "host", "hosts");
        if (!header.hosts.sharedGroups.empty()) {
            out << " (" << Plural(header.hosts.sharedGroups.size(), "host", "hosts") << " shared)";
        }
        out << ", " << Plural(size_t(tally.settings), "setting", "settings") << ", "
            << Plural(size_t(tally.runs), "run", "runs") << ": " << tally.verifiedRuns << " verified";
        const int stopped = tally.stoppedRuns;
        const int failed = tally.runs - tally.verifiedRuns - stopped;
        if (failed > 0) out << ", " << failed << " wrong or failed";
        if (stopped > 0) out << ", " << stopped << " stopped";
        out << "; " << Plural(size_t(tally.outliers), "outlier", "outliers") << " (more than "
            << FullPrecision(header.options.outlierPercent) << "% slower than the fleet median).\n";
        out << JudgeFleet(tally, header.ranks, header.options).text << "\n";
        out.flush();
    }

private:
    // Ranks that share a host, named so that nobody takes their times for a node's.
    void WriteSharedHosts() {
        const auto& groups = header.hosts.sharedGroups;
        const size_t named = summarised ? std::min<size_t>(groups.size(), 10) : groups.size();
        for (size_t i = 0; i < named; ++i) {
            out << "Shared host: " << header.ranks[size_t(groups[i].front())].host << " runs ranks "
                << RankRanges(groups[i]) << "\n";
        }
        if (named < groups.size()) out << "Shared hosts: " << groups.size() - named << " more\n";
        if (!groups.empty()) out << "Ranks on a shared host compete for its cores: their times are not a node's.\n";
    }

    // The machines, as a count per kind (the most common ten); a column of
    // the rows for what differs between ranks; each rank's in CSV and JSON.
    void WriteMachines() {
        std::map<std::string, size_t> kinds;
        for (const MachineColumn& column : MachineColumns()) {
            const std::string cell = column.cell(header.ranks.front().context);
            const bool alike = std::all_of(header.ranks.begin(), header.ranks.end(),
                                           [&](const RankInfo& info) { return column.cell(info.context) == cell; });
            if (!alike) shown.push_back(column);
        }
        for (const RankInfo& info : header.ranks) {
            std::string words;
            for (const MachineColumn& column : MachineColumns()) {
                const std::string said = column.words(info.context);
                if (!said.empty()) words += (words.empty() ? "" : ", ") + said;
            }
            ++kinds[words];
        }
        std::vector<std::pair<size_t, std::string>> counted;
        for (const auto& [words, count] : kinds) counted.emplace_back(count, words);
        std::stable_sort(counted.begin(), counted.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (size_t i = 0; i < counted.size() && i < 10; ++i) {
            out << "CPU: " << Plural(counted[i].first, "rank", "ranks") << " on " << counted[i].second << "\n";
        }
        if (counted.size() > 10) out << "CPU: " << counted.size() - 10 << " more models\n";
        const auto bound = std::count_if(header.ranks.begin(), header.ranks.end(),
                                         [](const RankInfo& info) { return Bound(info.context); });
        if (bound > 0) {
            out << (bound == 1 ? "1 rank may use fewer processors than its machine has"
                               : std::to_string(bound) + " ranks may use fewer processors than their machines have")
                << " (the launcher's binding, a CPU set or quota): give each rank a whole node with mpirun --bind-to "
                << "none, or --map-by ppr:1:node:pe=N for N processors.\n";
        }
    }

    // The host and rank cells, then the machine's where ranks differ.
    std::vector<std::string> MachineCells(const RankInfo& info, std::vector<std::string> cells) const {
        for (const MachineColumn& column : shown) cells.push_back(column.cell(info.context));
        return cells;
    }

    void WriteColumnHeads() {
        std::vector<std::string> heads = {"Host", "Rank"};
        for (const MachineColumn& column : shown) heads.push_back(column.head);
        for (const char* head : {"Task", "Thread Count", header.options.repeat > 1 ? "Median Time" : "Time", "Verdict"}) {
            heads.push_back(head);
        }
        WriteLine(heads, "");
    }

    void WriteRow(const FleetSetting& setting, const FleetRow& row, const std::string& alike) {
        const RankInfo& info = header.ranks[size_t(row.rank)];
        std::string note;
        auto add = [&note](const std::string& text) { note += (note.empty() ? "" : "; ") + text; };
        if (header.hosts.sharesHost[size_t(row.rank)]) add("shares host");
        if (row.outlier) add("outlier, " + Percent(*row.slowerPercent) + " slower");
        if (row.stoppedAfter) add(StoppedAfterText(row));
        if (!row.machineNote.empty()) add(row.machineNote);
        if (!alike.empty()) add(alike);
        std::vector<std::string> cells = MachineCells(info, {info.host, std::to_string(row.rank)});
        for (const std::string& cell : {TaskTable::Label(setting.taskIndex), ThreadCountText(setting.threads),
                                        RowTime(row), std::string(StatusLabel(row.status))}) {
            cells.push_back(cell);
        }
        WriteLine(cells, note);
    }

    // Beyond a screenful, ranks that failed alike share one row: the lowest one's.
    void WriteFailureRow(const FleetSetting& setting, const FailureGroup& group) {
        const auto row = std::find_if(setting.rows.begin(), setting.rows.end(),
                                      [&group](const FleetRow& r) { return r.rank == group.first.rank; });
        const std::vector<int> others(group.ranks.begin() + 1, group.ranks.end());
        WriteRow(setting, *row, others.empty() ? "" : "and " + RanksText(others, header.ranks) + " alike");
    }

    void WriteLine(const std::vector<std::string>& cells, const std::string& note) { out << table.Line(cells, note) << "\n"; }

    // The verified ranks that are not outliers, as a distribution: how far
    // from the fleet median they lie, and the quantiles of their times.
    void WriteDistribution(const FleetSetting& setting) {
        const double limit = header.options.outlierPercent;
        size_t faster = 0, near = 0, slower = 0, stopped = 0;
        std::vector<double> seconds;
        for (const FleetRow& row : setting.rows) {
            if (row.status == RunStatus::Stopped) ++stopped;
            if (!row.slowerPercent || row.outlier) continue;
            seconds.push_back(*row.seconds);
            if (*row.slowerPercent < -limit / 2) {
                ++faster;
            } else if (*row.slowerPercent <= limit / 2) {
                ++near;
            } else {
                ++slower;
            }
        }
        if (!seconds.empty()) {
            std::sort(seconds.begin(), seconds.end());
            const std::string half = FullPrecision(limit / 2) + "%";
            out << "  the other " << Plural(seconds.size(), "verified rank", "verified ranks") << ": " << faster
                << " faster than the median by more than " << half << ", " << near << " within " << half << ", "
                << slower << " slower by " << half << " to " << FullPrecision(limit) << "%\n"
                << "  their times: 10% " << Quantile(seconds, 0.1) << ", 25% " << Quantile(seconds, 0.25) << ", 50% "
                << Quantile(seconds, 0.5) << ", 75% " << Quantile(seconds, 0.75) << ", 90% " << Quantile(seconds, 0.9)
                << "\n";
        }
        if (stopped > 0) out << "  " << Plural(stopped, "rank", "ranks") << " stopped\n";
    }

    std::ostream& out;
    FleetHeader header;
    bool summarised = false;
    std::vector<MachineColumn> shown;  // the machine columns the rows carry
    TextTable table;
    std::vector<std::string> verdicts;
};

class FleetCsv final : public FleetReportWriter {
public:
    explicit FleetCsv(std::ostream& out_) : out(out_) {}

    void Begin(const FleetHeader& header_) override {
        header = header_;
        out << "# vantrel-mpi " << header.ranks.front().context.version << "\n"
            << "# ranks: " << header.ranks.size() << "\n"
            << "# hosts: " << header.hosts.distinctHosts << "\n"
            << "# task: " << TaskTable::Label(header.options.taskIndex) << "\n"
            << "# repeat: " << header.options.repeat << "\n"
            << "# outlier_percent: " << FullPrecision(header.options.outlierPercent) << "\n"
            << "# date: " << header.date << "\n"
            << "host,rank,shares_host,cpu,logical_processors,usable_processors,usable_reason,os,compiler,build_type,flags,"
               "bits,task,thread_count,"
               "threads,last_prime,time,seconds,median_seconds,runs,expected_prime,status,verdict,fault,"
               "fleet_median_seconds,slower_percent,outlier,stopped_runs,machine_note" << kMachineCsvColumns << "\n";
        out.flush();
    }

    void Setting(const FleetSetting& setting) override {
        for (const FleetRow& row : setting.rows) {
            const RankInfo& info = header.ranks[size_t(row.rank)];
            const RunContext& c = info.context;
            const RunRecord& run = row.result.row;
            const bool verified = row.seconds.has_value();
            // As in the runner's report: the fastest run (else the last
            // progress), and the median the fleet compares.
            const std::string seconds = verified ? FullPrecision(row.result.minSeconds)
                                        : run.progressed ? FullPrecision(run.seconds)
                                                         : std::string();
            out << CsvField(info.host) << ',' << row.rank << ',' << (header.hosts.sharesHost[size_t(row.rank)] ? "yes" : "no")
                << ',' << CsvField(c.cpu) << ',' << c.logicalProcessors << ',' << c.processors.usable << ','
                << CsvField(c.processors.reason) << ',' << CsvField(c.os) << ','
                << CsvField(c.compiler) << ',' << CsvField(c.buildType) << ',' << CsvField(c.flags) << ',' << c.bits << ','
                << CsvField(run.task) << ',' << CsvField(run.threadText) << ',' << run.threads << ','
                << CsvField(run.primeText) << ',' << CsvField(run.timeText) << ',' << seconds << ','
                << (verified ? FullPrecision(*row.seconds) : std::string()) << ',' << row.runs.size() << ','
                << TaskTable::lastPrimes[setting.taskIndex] << ',' << RunStatusName(row.status) << ','
                << CsvField(run.verdict) << ',' << CsvField(run.fault) << ','
                << (setting.verified > 0 ? FullPrecision(setting.medianSeconds) : std::string()) << ','
                << (row.slowerPercent ? FullPrecision(*row.slowerPercent) : std::string()) << ','
                << (row.outlier ? "yes" : "no") << ',' << (row.stoppedAfter ? 1 : 0) << ',' << CsvField(row.machineNote)
                << MachineCsv(row.result.machine, run.targetCount) << "\n";
        }
        if (setting.verified > 0) {
            out << "# setting " << SettingName(setting) << ": verified " << setting.verified << ", min_seconds "
                << FullPrecision(setting.minSeconds) << ", median_seconds " << FullPrecision(setting.medianSeconds)
                << ", max_seconds " << FullPrecision(setting.maxSeconds) << ", spread_percent "
                << FullPrecision(setting.spreadPercent) << "\n";
        }
        for (const FleetRow& row : setting.rows) {
            for (const std::string& finding : row.findings) out << "# each_core: rank " << row.rank << ": " << finding << "\n";
        }
        out.flush();
    }

    void End(const FleetTally& tally) override {
        for (const FailureGroup& group : GroupFailures(tally.failures)) {
            out << "# failure: " << FailureLine(header, group) << "\n";
        }
        for (const std::string& line : EndingLines(header, tally)) out << "# ended: " << line << "\n";
        out << "# outliers: " << tally.outliers << "\n"
            << "# stopped: " << (tally.stopped ? "yes" : "no") << "\n"
            << "# verdict: " << JudgeFleet(tally, header.ranks, header.options).text << "\n";
        out.flush();
    }

private:
    std::ostream& out;
    FleetHeader header;
};

// One JSON document, written as it goes: the context and the ranks at the
// start, each setting's rows as soon as it is gathered, the figures and the
// verdict at the end. Cut short, it holds every gathered setting's rows
// whole; whole, it reads as any JSON.
class FleetJson final : public FleetReportWriter {
public:
    explicit FleetJson(std::ostream& out_) : out(out_) {}

    void Begin(const FleetHeader& header_) override {
        header = header_;
        Json ranks = Json::array();
        for (const RankInfo& info : header.ranks) {
            ranks.push_back({{"rank", info.rank},
                             {"host", info.host},
                             {"shares_host", bool(header.hosts.sharesHost[size_t(info.rank)])},
                             {"context", info.context}});
        }
        // "context" and "results" as in the runner's report, so that tools
        // reading those (compare) read a fleet's too: its rows pooled per setting.
        out << "{\n";
        Member("context", Json(header.ranks.front().context));
        Member("ranks", ranks);
        out << "  \"results\": [";
        out.flush();
    }

    void Setting(const FleetSetting& setting) override {
        Json outliers = Json::array();
        for (const FleetRow& row : setting.rows) {
            out << (firstResult ? "\n    " : ",\n    ") << Indented(Item(setting, row), 4);
            firstResult = false;
        }
        for (const FleetRow* row : OutliersOf(setting)) {
            outliers.push_back({{"host", header.ranks[size_t(row->rank)].host}, {"rank", row->rank},
                                {"seconds", *row->seconds}, {"slower_percent", *row->slowerPercent}});
        }
        const bool any = setting.verified > 0;
        settings.push_back({{"task", TaskTable::Label(setting.taskIndex)},
                            {"threads", setting.threads},
                            {"ranks", setting.rows.size()},
                            {"verified", setting.verified},
                            {"min_seconds", any ? Json(setting.minSeconds) : Json(nullptr)},
                            {"median_seconds", any ? Json(setting.medianSeconds) : Json(nullptr)},
                            {"max_seconds", any ? Json(setting.maxSeconds) : Json(nullptr)},
                            {"spread_percent", any ? Json(setting.spreadPercent) : Json(nullptr)},
                            {"outliers", std::move(outliers)}});
        out.flush();
    }

    void End(const FleetTally& tally) override {
        const FleetVerdict verdict = JudgeFleet(tally, header.ranks, header.options);
        out << (firstResult ? "],\n" : "\n  ],\n");
        Member("settings", settings);
        Member("fleet", Fleet(tally, verdict));
        Member("failures", Failures(tally));
        Member("pass", Json(verdict.pass));
        out << "  \"verdict\": " << Json(verdict.text).dump() << "\n}\n";
        out.flush();
    }

private:
    // A value's lines, all but the first indented by `by` spaces more, as
    // when it is a member of a document dumped with an indent of 2.
    static std::string Indented(const Json& value, size_t by) {
        std::string text = value.dump(2);
        const std::string indent(by, ' ');
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
            text.insert(at + 1, indent);
        }
        return text;
    }

    void Member(const std::string& name, const Json& value) {
        out << "  " << Json(name).dump() << ": " << Indented(value, 2) << ",\n";
    }

    Json Item(const FleetSetting& setting, const FleetRow& row) const {
        const RunRecord& run = row.result.row;
        Json item = {{"host", header.ranks[size_t(row.rank)].host},
                     {"rank", row.rank},
                     {"task", run.task},
                     {"thread_count", run.threadText},
                     {"last_prime", run.primeText},
                     {"time", run.timeText},
                     {"threads", run.threads},
                     {"primes", run.targetCount}};
        item["seconds"] = row.seconds ? Json(row.result.minSeconds) : run.progressed ? Json(run.seconds) : Json(nullptr);
        item["median_seconds"] = row.seconds ? Json(*row.seconds) : Json(nullptr);
        item["run_seconds"] = row.result.runSeconds;
        item["expected_prime"] = TaskTable::lastPrimes[setting.taskIndex];
        item["found_prime"] = run.progressed ? Json(run.prime) : Json(nullptr);
        item["status"] = RunStatusName(row.status);
        item["verdict"] = run.verdict;
        if (!run.fault.empty()) item["fault"] = run.fault;
        item["slower_percent"] = row.slowerPercent ? Json(*row.slowerPercent) : Json(nullptr);
        item["outlier"] = row.outlier;
        item["stopped_runs"] = row.stoppedAfter ? 1 : 0;
        item["machine"] = MachineJson(row.result.machine, run.targetCount);
        item["machine_note"] = row.machineNote;
        if (header.options.eachCore) item["each_core_findings"] = row.findings;
        return item;
    }

    Json Fleet(const FleetTally& tally, const FleetVerdict& verdict) const {
        Json shared = Json::array();
        for (const std::vector<int>& group : header.hosts.sharedGroups) {
            shared.push_back({{"host", header.ranks[size_t(group.front())].host}, {"ranks", group}});
        }
        Json fleet = {{"ranks", header.ranks.size()},
                      {"hosts", header.hosts.distinctHosts},
                      {"shared_hosts", std::move(shared)},
                      {"task", TaskTable::Label(header.options.taskIndex)},
                      {"repeat", header.options.repeat},
                      {"outlier_percent", header.options.outlierPercent},
                      {"fail_on_outlier", header.options.failOnOutlier},
                      {"date", header.date},
                      {"outliers", tally.outliers},
                      {"stopped", tally.stopped},
                      {"exit_code", verdict.exitCode},
                      {"gathered_bytes", tally.gatheredBytes},
                      {"gather_seconds", tally.gatherSeconds}};
        if (tally.loss) {
            fleet["no_answer"] = {{"ranks", tally.loss->ranks}, {"at", tally.loss->step},
                                  {"deadline_seconds", tally.loss->seconds}};
        }
        if (!tally.gatherFailure.empty()) fleet["gather_failure"] = tally.gatherFailure;
        if (!tally.storeFailure.empty()) fleet["store_failure"] = tally.storeFailure;
        return fleet;
    }

    Json Failures(const FleetTally& tally) const {
        Json failures = Json::array();
        for (const FleetFailure& failure : tally.failures) {
            const RunRecord& run = failure.run;
            failures.push_back({{"host", header.ranks[size_t(failure.rank)].host},
                                {"rank", failure.rank},
                                {"task", run.task},
                                {"threads", run.threads},
                                {"status", RunStatusName(run.status)},
                                {"expected_prime", failure.expectedPrime},
                                {"found_prime", run.progressed ? Json(run.prime) : Json(nullptr)},
                                {"fault", run.fault}});
        }
        return failures;
    }

    std::ostream& out;
    FleetHeader header;
    bool firstResult = true;
    Json settings = Json::array();
};

}  // namespace

std::string RankName(const RankInfo& info) { return info.host + ", rank " + std::to_string(info.rank); }

std::unique_ptr<FleetReportWriter> MakeFleetReportWriter(ReportFormat format, std::ostream& out) {
    switch (format) {
        case ReportFormat::Csv: return std::make_unique<FleetCsv>(out);
        case ReportFormat::Json: return std::make_unique<FleetJson>(out);
        case ReportFormat::Table: break;
    }
    return std::make_unique<FleetTable>(out);
}
