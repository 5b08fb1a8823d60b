#include "mpi/FleetReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "runner/JsonForms.h"
#include "runner/Text.h"
#include "runner/TextTable.h"

namespace {

using Json = nlohmann::ordered_json;

std::string Percent(double value) { return FormatFixed2(value) + "%"; }

std::string RankList(const std::vector<int>& ranks) {
    std::string text;
    for (int rank : ranks) text += (text.empty() ? "" : ", ") + std::to_string(rank);
    return text;
}

std::string SettingName(const FleetSetting& setting) {
    return TaskTable::Label(setting.taskIndex) + " on " + ThreadCountText(setting.threads);
}

// The time a row shows: a verified rank's median, else the time of its last progress.
std::string RowTime(const FleetRow& row) { return row.seconds ? TimeText(*row.seconds) : row.result.row.timeText; }

// One failure on one line: where, which setting, the prime expected and the one found, and why.
std::string FailureLine(const FleetHeader& header, const FleetFailure& failure) {
    const RunRecord& run = failure.run;
    const std::string text = std::string(StatusLabel(run.status)) + " on " + RankName(header.ranks[size_t(failure.rank)]) +
                             ", task " + run.task + " on " + run.threadText + ": ";
    if (run.status != RunStatus::Wrong) return text + run.fault;
    // The digest finds a wrong table behind a right last prime.
    if (run.progressed && run.prime == failure.expectedPrime) {
        return text + "last prime " + std::to_string(run.prime) + " as expected, but " + run.fault;
    }
    return text + "expected prime " + std::to_string(failure.expectedPrime) + ", found " + std::to_string(run.prime) +
           " (" + run.fault + ")";
}

std::string Quantile(const std::vector<double>& sorted, double q) {
    return SecondsText(sorted[size_t(std::lround(q * double(sorted.size() - 1)))]);
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
        // Ranks that share a host, named so that nobody takes their times for a node's.
        const auto& groups = header.hosts.sharedGroups;
        const size_t named = summarised ? std::min<size_t>(groups.size(), 10) : groups.size();
        for (size_t i = 0; i < named; ++i) {
            out << "Shared host: " << header.ranks[size_t(groups[i].front())].host << " runs ranks "
                << RankList(groups[i]) << "\n";
        }
        if (named < groups.size()) out << "Shared hosts: " << groups.size() - named << " more\n";
        if (!groups.empty()) out << "Ranks on a shared host compete for its cores: their times are not a node's.\n";
        if (summarised) {
            // The machines, as a count per CPU model (the most common ten);
            // each rank's is in CSV and JSON.
            std::map<std::string, size_t> models;
            for (const RankInfo& info : header.ranks) {
                const RunContext& c = info.context;
                ++models[c.cpu + ", " + std::to_string(c.logicalProcessors) + " logical processors"];
            }
            std::vector<std::pair<size_t, std::string>> cpus;
            for (const auto& [cpu, count] : models) cpus.emplace_back(count, cpu);
            std::stable_sort(cpus.begin(), cpus.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
            for (size_t i = 0; i < cpus.size() && i < 10; ++i) {
                out << "CPU: " << Plural(cpus[i].first, "rank", "ranks") << " on " << cpus[i].second << "\n";
            }
            if (cpus.size() > 10) out << "CPU: " << cpus.size() - 10 << " more models\n";
            out << "More ranks than a screenful: each setting shows its failures and outliers in full and the other "
                   "ranks as a distribution (every row: --format csv or json).\n";
        }
        out << "\n";
        table = TextTable({4, 4, 3, 18, 4, 12, header.options.repeat > 1 ? size_t(11) : size_t(9), 12});
        for (const RankInfo& info : header.ranks) table.Fit({info.host, std::to_string(info.rank), info.context.cpu});
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
        bool headed = false;
        for (const FleetRow& row : setting.rows) {
            if (summarised && row.status == RunStatus::Finished && !row.outlier) continue;
            if (summarised && row.status == RunStatus::Stopped) continue;
            if (!headed) WriteColumnHeads();
            headed = true;
            WriteRow(setting, row);
        }
        if (!headed && !summarised) WriteColumnHeads();
        const std::string name = TaskTable::Label(setting.taskIndex) + ", " + ThreadCountText(setting.threads);
        if (setting.verified == 0) {
            out << name << ": no rank verified a result\n";
        } else {
            out << name << ": fleet min " << SecondsText(setting.minSeconds) << ", median " << SecondsText(setting.medianSeconds)
                << ", max " << SecondsText(setting.maxSeconds) << ", spread " << Percent(setting.spreadPercent) << " over "
                << Plural(size_t(setting.verified), "verified rank", "verified ranks") << "\n";
        }
        for (const FleetRow& row : setting.rows) {
            if (!row.outlier) continue;
            out << "  outlier: " << RankName(header.ranks[size_t(row.rank)]) << ", " << Percent(*row.slowerPercent)
                << " slower than the fleet median (" << SecondsText(*row.seconds) << ")\n";
        }
        if (summarised) WriteDistribution(setting);
        out << "\n";
        out.flush();
    }

    void End(const FleetTally& tally) override {
        // What was verified, once for every verdict (failures have their own lines).
        for (const std::string& verdict : verdicts) out << verdict << "\n";
        for (const FleetFailure& failure : tally.failures) out << FailureLine(header, failure) << "\n";
        out << "Fleet: " << Plural(header.ranks.size(), "rank", "ranks") << " on "
            << Plural(size_t(header.hosts.distinctHosts), "host", "hosts");
        if (!header.hosts.sharedGroups.empty()) {
            out << " (" << Plural(header.hosts.sharedGroups.size(), "host", "hosts") << " shared)";
        }
        out << ", " << Plural(size_t(tally.settings), "setting", "settings") << ": ";
        if (!tally.failures.empty()) {
            out << Plural(tally.failures.size(), "wrong or failed result", "wrong or failed results");
        } else if (tally.stopped) {
            out << "stopped before the end, every result so far verified";
        } else {
            out << "every result verified";
        }
        out << ", " << Plural(size_t(tally.outliers), "outlier", "outliers") << " (more than "
            << FullPrecision(header.options.outlierPercent) << "% slower than the fleet median)";
        if (tally.stopped && !tally.failures.empty()) out << ", stopped before the end";
        out << ".\n";
        out.flush();
    }

private:
    void WriteColumnHeads() {
        WriteLine({"Host", "Rank", "CPU", "Logical Processors", "Task", "Thread Count",
                   header.options.repeat > 1 ? "Median Time" : "Time", "Verdict"},
                  "");
    }

    void WriteRow(const FleetSetting& setting, const FleetRow& row) {
        const RankInfo& info = header.ranks[size_t(row.rank)];
        std::string note;
        if (header.hosts.sharesHost[size_t(row.rank)]) note = "shares host";
        if (row.outlier) note += (note.empty() ? "" : "; ") + ("outlier, " + Percent(*row.slowerPercent) + " slower");
        WriteLine({info.host, std::to_string(row.rank), info.context.cpu, std::to_string(info.context.logicalProcessors),
                   TaskTable::Label(setting.taskIndex), ThreadCountText(setting.threads), RowTime(row),
                   StatusLabel(row.status)},
                  note);
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
            << "host,rank,shares_host,cpu,logical_processors,os,compiler,build_type,flags,bits,task,thread_count,"
               "threads,last_prime,time,seconds,median_seconds,runs,expected_prime,status,verdict,fault,"
               "fleet_median_seconds,slower_percent,outlier\n";
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
                << ',' << CsvField(c.cpu) << ',' << c.logicalProcessors << ',' << CsvField(c.os) << ','
                << CsvField(c.compiler) << ',' << CsvField(c.buildType) << ',' << CsvField(c.flags) << ',' << c.bits << ','
                << CsvField(run.task) << ',' << CsvField(run.threadText) << ',' << run.threads << ','
                << CsvField(run.primeText) << ',' << CsvField(run.timeText) << ',' << seconds << ','
                << (verified ? FullPrecision(*row.seconds) : std::string()) << ',' << row.runs.size() << ','
                << TaskTable::lastPrimes[setting.taskIndex] << ',' << RunStatusName(row.status) << ','
                << CsvField(run.verdict) << ',' << CsvField(run.fault) << ','
                << (setting.verified > 0 ? FullPrecision(setting.medianSeconds) : std::string()) << ','
                << (row.slowerPercent ? FullPrecision(*row.slowerPercent) : std::string()) << ','
                << (row.outlier ? "yes" : "no") << "\n";
        }
        if (setting.verified > 0) {
            out << "# setting " << SettingName(setting) << ": verified " << setting.verified << ", min_seconds "
                << FullPrecision(setting.minSeconds) << ", median_seconds " << FullPrecision(setting.medianSeconds)
                << ", max_seconds " << FullPrecision(setting.maxSeconds) << ", spread_percent "
                << FullPrecision(setting.spreadPercent) << "\n";
        }
        out.flush();
    }

    void End(const FleetTally& tally) override {
        for (const FleetFailure& failure : tally.failures) out << "# failure: " << FailureLine(header, failure) << "\n";
        out << "# outliers: " << tally.outliers << "\n"
            << "# stopped: " << (tally.stopped ? "yes" : "no") << "\n";
        out.flush();
    }

private:
    std::ostream& out;
    FleetHeader header;
};

class FleetJson final : public FleetReportWriter {
public:
    explicit FleetJson(std::ostream& out_) : out(out_) {}

    void Begin(const FleetHeader& header_) override {
        header = header_;
        // "context" and "results" as in the runner's report, so that tools
        // reading those (compare) read a fleet's too: its rows pooled per setting.
        document["context"] = header.ranks.front().context;
        document["fleet"] = Json::object();
        Json ranks = Json::array();
        for (const RankInfo& info : header.ranks) {
            ranks.push_back({{"rank", info.rank},
                             {"host", info.host},
                             {"shares_host", bool(header.hosts.sharesHost[size_t(info.rank)])},
                             {"context", info.context}});
        }
        document["ranks"] = std::move(ranks);
        document["results"] = Json::array();
        document["settings"] = Json::array();
    }

    void Setting(const FleetSetting& setting) override {
        Json outliers = Json::array();
        for (const FleetRow& row : setting.rows) {
            const RankInfo& info = header.ranks[size_t(row.rank)];
            const RunRecord& run = row.result.row;
            Json item = {{"host", info.host},
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
            document["results"].push_back(std::move(item));
            if (row.outlier) {
                outliers.push_back({{"host", info.host}, {"rank", row.rank}, {"seconds", *row.seconds},
                                    {"slower_percent", *row.slowerPercent}});
            }
        }
        const bool any = setting.verified > 0;
        document["settings"].push_back({{"task", TaskTable::Label(setting.taskIndex)},
                                        {"threads", setting.threads},
                                        {"ranks", setting.rows.size()},
                                        {"verified", setting.verified},
                                        {"min_seconds", any ? Json(setting.minSeconds) : Json(nullptr)},
                                        {"median_seconds", any ? Json(setting.medianSeconds) : Json(nullptr)},
                                        {"max_seconds", any ? Json(setting.maxSeconds) : Json(nullptr)},
                                        {"spread_percent", any ? Json(setting.spreadPercent) : Json(nullptr)},
                                        {"outliers", std::move(outliers)}});
    }

    void End(const FleetTally& tally) override {
        Json failures = Json::array();
        for (const FleetFailure& failure : tally.failures) {
            const RunRecord& run = failure.run;
            Json item = {{"host", header.ranks[size_t(failure.rank)].host},
                         {"rank", failure.rank},
                         {"task", run.task},
                         {"threads", run.threads},
                         {"status", RunStatusName(run.status)},
                         {"expected_prime", failure.expectedPrime},
                         {"found_prime", run.progressed ? Json(run.prime) : Json(nullptr)},
                         {"fault", run.fault}};
            failures.push_back(std::move(item));
        }
        Json shared = Json::array();
        for (const std::vector<int>& group : header.hosts.sharedGroups) {
            shared.push_back({{"host", header.ranks[size_t(group.front())].host}, {"ranks", group}});
        }
        document["fleet"] = {{"ranks", header.ranks.size()},
                             {"hosts", header.hosts.distinctHosts},
                             {"shared_hosts", std::move(shared)},
                             {"task", TaskTable::Label(header.options.taskIndex)},
                             {"repeat", header.options.repeat},
                             {"outlier_percent", header.options.outlierPercent},
                             {"fail_on_outlier", header.options.failOnOutlier},
                             {"date", header.date},
                             {"outliers", tally.outliers},
                             {"stopped", tally.stopped},
                             {"exit_code", tally.ExitCode(header.options.failOnOutlier)},
                             {"gathered_bytes", tally.gatheredBytes},
                             {"gather_seconds", tally.gatherSeconds}};
        document["failures"] = std::move(failures);
        out << document.dump(2) << "\n";
        out.flush();
    }

private:
    std::ostream& out;
    FleetHeader header;
    Json document;
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
