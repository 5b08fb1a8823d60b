#include "results/History.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "engine/Text.h"
#include "results/Charts.h"
#include "results/ResultStore.h"
#include "runner/ExitCodes.h"
#include "runner/JsonForms.h"
#include "runner/MachineWords.h"
#include "runner/ReportWriter.h"
#include "runner/TerminalText.h"
#include "runner/TextTable.h"

namespace {

// The host a line's runs ran on, or how many when several (a fleet's).
std::string HostsText(const HistoryLine& line) {
    if (line.hosts.size() == 1) return OneLine(line.hosts.front());
    return line.hosts.empty() ? std::string() : Plural(line.hosts.size(), "host", "hosts");
}

// Hosts space-separated, as CSV holds a list.
std::string HostList(const HistoryLine& line) {
    std::string list;
    for (const std::string& host : line.hosts) list += (list.empty() ? "" : " ") + host;
    return list;
}

// Free text is cut in the table only (CSV and JSON keep it whole), so that
// the table keeps within 100 columns with a server's CPU name of 60
// characters: a label, the CPU and the host.
constexpr size_t kMaxLabelWidth = 16;
constexpr size_t kMaxCpuWidth = 24;
constexpr size_t kMaxHostWidth = 16;

void WriteTable(std::ostream& out, const std::vector<HistoryLine>& lines, bool colours) {
    if (lines.empty()) {
        out << "No stored invocation matches.\n";
        out.flush();
        return;
    }
    // A CPU or host that every line shares is said once above the table, whole.
    auto shared = [&lines](auto field) {
        for (const HistoryLine& line : lines) {
            if (field(line) != field(lines.front())) return false;
        }
        return true;
    };
    const bool oneCpu = shared([](const HistoryLine& line) { return line.cpu; });
    const bool oneHost = shared([](const HistoryLine& line) { return HostsText(line); });
    std::vector<std::pair<std::string, std::string>> above;
    if (oneCpu) above.emplace_back("CPU", OneLine(lines.front().cpu));
    if (oneHost && !HostsText(lines.front()).empty()) above.emplace_back("Host", HostsText(lines.front()));
    std::string text = LabelledLines(above, kReportWidth);
    if (!text.empty()) text += "\n";
    // What the machine did, where the lines differ in it.
    std::set<std::string> briefs;
    for (const HistoryLine& line : lines) briefs.insert(MachineBrief(line.machine));
    const bool machine = briefs.size() > 1;

    // The host last: the one column of free width that machines differ in most.
    std::vector<std::string> header = {"ID", "Date", "Label"};
    if (!oneCpu) header.push_back("CPU");
    header.insert(header.end(), {"Task", "Thread Count", "Runs", "Median Time", "Verdict"});
    if (machine) header.push_back("Machine");
    if (!oneHost) header.push_back("Host");
    std::vector<std::vector<std::string>> rows = {header};
    for (const HistoryLine& line : lines) {
        const bool bad = line.verdict == RunStatus::Wrong || line.verdict == RunStatus::Failed;
        std::vector<std::string> row = {std::to_string(line.invocation), OneLine(line.date), OneLine(line.label)};
        if (!oneCpu) row.push_back(OneLine(line.cpu));
        row.insert(row.end(), {line.task, ThreadCountText(line.threads), std::to_string(line.runs),
                               line.medianSeconds ? PreciseSecondsText(*line.medianSeconds) : std::string(),
                               Painted(std::string(StatusLabel(line.verdict)) +
                                           (line.ended && !line.ended->empty() ? ", cut short" : ""),
                                       Colour::Red, colours && bad)});
        if (machine) row.push_back(MachineBrief(line.machine));
        if (!oneHost) row.push_back(HostsText(line));
        rows.push_back(row);
    }
    TextTable table;
    table.Cap(2, kMaxLabelWidth);
    if (!oneCpu) table.Cap(3, kMaxCpuWidth);
    if (!oneHost) table.Cap(header.size() - 1, kMaxHostWidth);
    for (const auto& row : rows) table.Fit(row);
    for (const auto& row : rows) text += table.Line(row) + "\n";
    out << text;
    out.flush();
}

void WriteCsv(std::ostream& out, const std::vector<HistoryLine>& lines) {
    std::string text = "invocation,date,label,cpu,hosts,task,threads,runs,finished_runs,median_seconds,verdict,ended" +
                       std::string(kMachineCsvColumns) + "\n";
    for (const HistoryLine& line : lines) {
        text += std::to_string(line.invocation) + ',' + CsvField(line.date) + ',' + CsvField(line.label) + ',' +
                CsvField(line.cpu) + ',' + CsvField(HostList(line)) + ',' + CsvField(line.task) + ',' +
                std::to_string(line.threads) + ',' + std::to_string(line.runs) + ',' + std::to_string(line.finishedRuns) + ',' +
                (line.medianSeconds ? FullPrecision(*line.medianSeconds) : std::string()) + ',' +
                SettingVerdictName(line.verdict) + ',' + CsvField(line.ended.value_or("")) +
                MachineCsv(line.machine, TaskTable::SizeOf(line.task)) + "\n";
    }
    out << text;
    out.flush();
}

void WriteJson(std::ostream& out, const std::vector<HistoryLine>& lines) {
    nlohmann::ordered_json document = nlohmann::ordered_json::array();
    for (const HistoryLine& line : lines) {
        document.push_back({
            {"invocation", line.invocation},
            {"date", line.date},
            {"label", line.label},
            {"cpu", line.cpu},
            {"hosts", line.hosts},
            {"task", line.task},
            {"threads", line.threads},
            {"runs", line.runs},
            {"finished_runs", line.finishedRuns},
            {"median_seconds", line.medianSeconds ? nlohmann::ordered_json(*line.medianSeconds) : nullptr},
            {"verdict", SettingVerdictName(line.verdict)},
            {"ended", line.ended ? nlohmann::ordered_json(*line.ended) : nullptr},
            {"machine", MachineJson(line.machine, TaskTable::SizeOf(line.task))},
        });
    }
    out << document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    out.flush();
}

HistoryChart ChartOf(const std::vector<HistoryLine>& lines) {
    HistoryChart chart;
    std::map<uint16_t, HistorySeries> series;
    std::set<std::string> cpus;
    // The lines are newest first; the chart runs oldest to newest.
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        chart.task = line->task;
        cpus.insert(line->cpu);
        HistorySeries& s = series[line->threads];
        s.threads = line->threads;
        if (line->medianSeconds) s.points.emplace_back(line->date, *line->medianSeconds);
    }
    if (cpus.size() == 1) chart.cpu = *cpus.begin();
    for (auto& [threads, s] : series) chart.series.push_back(std::move(s));
    return chart;
}

}  // namespace

int RunHistory(const HistoryOptions& options, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& interrupt) {
    auto fail = [&](int code, const std::string& line) {
        err << "vantrel-cli: " << line << "\n";
        err.flush();
        return code;
    };
    if (options.db.empty()) {
        return fail(kHistoryBadInput, "history needs a result store: --db FILE, or the environment variable VANTREL_DB");
    }
    std::vector<HistoryLine> lines;
    try {
        ResultStore store(options.db, ResultStore::Access::Read);
        lines = store.History({options.task, options.threads, options.last});
    } catch (const StoreError& e) {
        return fail(kHistoryBadInput, e.what());
    }
    if (interrupt.load()) return kExitInterrupted;

    if (!options.plot.empty()) {
        std::set<std::string> tasks;
        for (const HistoryLine& line : lines) tasks.insert(line.task);
        if (tasks.size() > 1) {
            std::string names;
            for (const std::string& task : tasks) names += " " + task;
            return fail(kHistoryBadInput, "--plot draws one task; valid: --task LABEL, one of" + names);
        }
    }

    switch (options.format) {
        case ReportFormat::Table: WriteTable(out, lines, options.colours); break;
        case ReportFormat::Csv: WriteCsv(out, lines); break;
        case ReportFormat::Json: WriteJson(out, lines); break;
    }

    if (options.plot.empty()) return kHistoryOk;
    if (interrupt.load()) return kExitInterrupted;
    const std::string failure = PlotHistory(options.plot, ChartOf(lines), options.gnuplot);
    if (failure.empty()) return kHistoryOk;
    return fail(kHistoryChartFailed, failure);
}
