#include "cli/ReportWriter.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <vector>

#include "engine/RunText.h"

namespace {

std::string Padded(const std::string& text, size_t width) {
    if (text.size() >= width) return text + "  ";
    return text + std::string(width - text.size() + 2, ' ');
}

std::string SpeedupText(const SettingResult& result) {
    return result.speedup ? FormatFixed2(*result.speedup) + "x" : std::string();
}

std::string EfficiencyText(const SettingResult& result) {
    return result.efficiency ? FormatFixed2(*result.efficiency * 100.0) + "%" : std::string();
}

bool HasSeconds(const SettingResult& result) { return result.row.progressed || !result.runSeconds.empty(); }

// Seconds of the row: the fastest finished run, else the time at the last
// progress of an unfinished run.
double RowSeconds(const SettingResult& result) {
    return result.runSeconds.empty() ? result.row.seconds : result.minSeconds;
}

class TableReport final : public ReportWriter {
public:
    TableReport(std::ostream& out_, bool sweep_, int repeat_) : out(out_), sweep(sweep_), repeat(repeat_) {
        // Wide enough for the usual texts; a longer one pushes its line out.
        widths = {4, 12, 18, 10};
        if (repeat > 1) widths.push_back(11);
        if (sweep) {
            widths.push_back(7);
            widths.push_back(10);
        }
    }

    void Begin(const RunContext& context) override {
        out << ContextLine(context) << "\n\n";
        std::vector<std::string> cells = {"Task", "Thread Count", "Last Prime", repeat > 1 ? "Min Time" : "Time"};
        if (repeat > 1) cells.push_back("Median Time");
        if (sweep) {
            cells.push_back("Speedup");
            cells.push_back("Efficiency");
        }
        WriteLine(cells, "");
    }

    void Row(const SettingResult& result) override {
        const RunRecord& row = result.row;
        std::vector<std::string> cells = {row.task, row.threadText, row.primeText, row.timeText};
        if (repeat > 1) cells.push_back(result.runSeconds.empty() ? std::string() : TimeText(result.medianSeconds));
        if (sweep) {
            cells.push_back(SpeedupText(result));
            cells.push_back(EfficiencyText(result));
        }
        std::string note;
        if (row.status == RunStatus::Stopped) note = "stopped";
        if (row.status == RunStatus::Wrong) note = "WRONG RESULT";
        if (row.status == RunStatus::Failed) note = "FAILED";
        WriteLine(cells, note);
        if (!row.verdict.empty() && std::find(verdicts.begin(), verdicts.end(), row.verdict) == verdicts.end()) {
            verdicts.push_back(row.verdict);
        }
    }

    // What was verified, once for every verdict the rows had.
    void End() override {
        if (!verdicts.empty()) out << "\n";
        for (const std::string& verdict : verdicts) out << verdict << "\n";
        out.flush();
    }

private:
    void WriteLine(const std::vector<std::string>& cells, const std::string& note) {
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) line += Padded(cells[i], widths[i]);
        line += note;
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << "\n";
        out.flush();
    }

    std::ostream& out;
    bool sweep;
    int repeat;
    std::vector<size_t> widths;
    std::vector<std::string> verdicts;
};

class CsvReport final : public ReportWriter {
public:
    explicit CsvReport(std::ostream& out_) : out(out_) {}

    void Begin(const RunContext& context) override {
        WriteCsvContext(out, context);
        out << "task,thread_count,last_prime,time,threads,seconds,median_seconds,runs,speedup,efficiency,status,fault,"
               "verdict\n";
        out.flush();
    }

    void Row(const SettingResult& result) override {
        const RunRecord& row = result.row;
        const bool finished = !result.runSeconds.empty() && row.status != RunStatus::Stopped;
        out << CsvField(row.task) << ',' << CsvField(row.threadText) << ',' << CsvField(row.primeText) << ','
            << CsvField(row.timeText) << ',' << row.threads << ','
            << (HasSeconds(result) ? FullPrecision(RowSeconds(result)) : std::string()) << ','
            << (finished ? FullPrecision(result.medianSeconds) : std::string()) << ',' << result.runSeconds.size() << ','
            << (result.speedup ? FullPrecision(*result.speedup) : std::string()) << ','
            << (result.efficiency ? FullPrecision(*result.efficiency) : std::string()) << ','
            << RunStatusName(row.status) << ',' << CsvField(row.fault) << ',' << CsvField(row.verdict) << "\n";
        out.flush();
    }

    void End() override { out.flush(); }

private:
    std::ostream& out;
};

class JsonReport final : public ReportWriter {
public:
    explicit JsonReport(std::ostream& out_) : out(out_) {}

    void Begin(const RunContext& context) override {
        document["context"] = JsonContext(context);
        document["results"] = nlohmann::ordered_json::array();
    }

    void Row(const SettingResult& result) override {
        const RunRecord& row = result.row;
        const bool finished = !result.runSeconds.empty() && row.status != RunStatus::Stopped;
        nlohmann::ordered_json item = {
            {"task", row.task},
            {"thread_count", row.threadText},
            {"last_prime", row.primeText},
            {"time", row.timeText},
            {"threads", row.threads},
            {"primes", row.targetCount},
        };
        item["seconds"] = HasSeconds(result) ? nlohmann::ordered_json(RowSeconds(result)) : nullptr;
        item["median_seconds"] = finished ? nlohmann::ordered_json(result.medianSeconds) : nullptr;
        item["run_seconds"] = result.runSeconds;
        item["speedup"] = result.speedup ? nlohmann::ordered_json(*result.speedup) : nullptr;
        item["efficiency"] = result.efficiency ? nlohmann::ordered_json(*result.efficiency) : nullptr;
        item["status"] = RunStatusName(row.status);
        if (!row.fault.empty()) item["fault"] = row.fault;
        item["verdict"] = row.verdict;
        document["results"].push_back(std::move(item));
    }

    void End() override {
        out << document.dump(2) << "\n";
        out.flush();
    }

private:
    std::ostream& out;
    nlohmann::ordered_json document;
};

}  // namespace

std::string ContextLine(const RunContext& context) {
    return "Vantrel " + context.version + " | " + context.cpu + " | " + std::to_string(context.logicalProcessors) +
           " logical processors | " + context.os + " | " + context.compiler + ", " + std::to_string(context.bits) +
           "-bit " + context.buildType + " | " + context.date;
}

// Comment lines, skipped by CSV readers that know '#' comments (and easy to
// strip for those that do not).
void WriteCsvContext(std::ostream& out, const RunContext& context) {
    out << "# vantrel-cli " << context.version << "\n"
        << "# cpu: " << context.cpu << "\n"
        << "# logical_processors: " << context.logicalProcessors << "\n"
        << "# os: " << context.os << "\n"
        << "# compiler: " << context.compiler << "\n"
        << "# build_type: " << context.buildType << "\n"
        << "# flags: " << context.flags << "\n"
        << "# bits: " << context.bits << "\n"
        << "# date: " << context.date << "\n";
}

nlohmann::ordered_json JsonContext(const RunContext& context) {
    return {
        {"version", context.version},
        {"cpu", context.cpu},
        {"logical_processors", context.logicalProcessors},
        {"os", context.os},
        {"build", {{"compiler", context.compiler}, {"build_type", context.buildType}, {"flags", context.flags},
                   {"bits", context.bits}}},
        {"date", context.date},
    };
}

std::unique_ptr<ReportWriter> MakeReportWriter(ReportFormat format, std::ostream& out, bool sweep, int repeat) {
    switch (format) {
        case ReportFormat::Csv: return std::make_unique<CsvReport>(out);
        case ReportFormat::Json: return std::make_unique<JsonReport>(out);
        case ReportFormat::Table: break;
    }
    return std::make_unique<TableReport>(out, sweep, repeat);
}

std::string FullPrecision(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}
