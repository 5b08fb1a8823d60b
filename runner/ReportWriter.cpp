#include "runner/ReportWriter.h"

#include <algorithm>
#include <vector>

#include "engine/RunText.h"
#include "runner/JsonForms.h"
#include "runner/MachineWords.h"
#include "runner/TextTable.h"

namespace {

std::string SpeedupText(const SettingResult& result) {
    return result.speedup ? FormatFixed2(*result.speedup) + "x" : std::string();
}

std::string EfficiencyText(const SettingResult& result) {
    return result.efficiency ? FormatFixed2(*result.efficiency * 100.0) + "%" : std::string();
}

class TableReport final : public ReportWriter {
public:
    TableReport(std::ostream& out_, bool sweep_, int repeat_) : out(out_), sweep(sweep_), repeat(repeat_) {
        // Wide enough for the usual texts; a longer one pushes its line out.
        std::vector<size_t> widths = {4, 12, 18, 10};
        if (repeat > 1) widths.push_back(11);
        if (sweep) {
            widths.push_back(7);
            widths.push_back(10);
        }
        table = TextTable(widths);
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
        std::string note = row.status == RunStatus::Finished ? "" : StatusLabel(row.status);
        // What took the machine from the setting's runs, where something did.
        if (const std::string disturbed = DisturbanceText(result.machine); !disturbed.empty()) {
            note += (note.empty() ? "" : "; ") + disturbed;
        }
        // The first row whose threads share physical cores: from there on the
        // efficiency measures SMT, not more cores.
        if (result.beyondCores && !beyondCoresShown) {
            note += std::string(note.empty() ? "" : "; ") + "SMT: more threads than cores";
            beyondCoresShown = true;
        }
        WriteLine(cells, note);
        if (!row.verdict.empty() && std::find(verdicts.begin(), verdicts.end(), row.verdict) == verdicts.end()) {
            verdicts.push_back(row.verdict);
        }
    }

    // What was verified, once for every verdict the rows had, then the invocation's.
    void End(const Verdict& verdict) override {
        out << "\n";
        for (const std::string& line : verdicts) out << line << "\n";
        out << verdict.text << "\n";
        out.flush();
    }

private:
    void WriteLine(const std::vector<std::string>& cells, const std::string& note) {
        out << table.Line(cells, note) << "\n";
        out.flush();
    }

    std::ostream& out;
    bool sweep;
    int repeat;
    TextTable table;
    std::vector<std::string> verdicts;
    bool beyondCoresShown = false;
};

class CsvReport final : public ReportWriter {
public:
    explicit CsvReport(std::ostream& out_) : out(out_) {}

    void Begin(const RunContext& context) override {
        WriteCsvContext(out, context);
        out << "task,thread_count,last_prime,time,threads,beyond_cores,seconds,median_seconds,runs,speedup,efficiency,"
               "status,fault,verdict" << kMachineCsvColumns << "\n";
        out.flush();
    }

    void Row(const SettingResult& result) override {
        auto number = [](const std::optional<double>& value) { return value ? FullPrecision(*value) : std::string(); };
        const RunRecord& row = result.row;
        out << CsvField(row.task) << ',' << CsvField(row.threadText) << ',' << CsvField(row.primeText) << ','
            << CsvField(row.timeText) << ',' << row.threads << ',' << (result.beyondCores ? "yes" : "no") << ','
            << number(RowSeconds(result)) << ','
            << number(RowMedianSeconds(result)) << ',' << result.runSeconds.size() << ',' << number(result.speedup)
            << ',' << number(result.efficiency) << ','
            << RunStatusName(row.status) << ',' << CsvField(row.fault) << ',' << CsvField(row.verdict)
            << MachineCsv(result.machine, row.targetCount) << "\n";
        out.flush();
    }

    void End(const Verdict& verdict) override {
        out << "# verdict: " << verdict.text << "\n";
        out.flush();
    }

private:
    std::ostream& out;
};

class JsonReport final : public ReportWriter {
public:
    explicit JsonReport(std::ostream& out_) : out(out_) {}

    void Begin(const RunContext& context) override {
        document["context"] = context;
        document["results"] = nlohmann::ordered_json::array();
    }

    void Row(const SettingResult& result) override { document["results"].push_back(result); }

    void End(const Verdict& verdict) override {
        document["pass"] = verdict.pass;
        document["verdict"] = verdict.text;
        out << document.dump(2) << "\n";
        out.flush();
    }

private:
    std::ostream& out;
    nlohmann::ordered_json document;
};

}  // namespace

std::string ContextLine(const RunContext& context) {
    return "Vantrel " + context.version + " | " + context.cpu + " | " + ProcessorsLine(context) + " | " + context.os +
           " | " + context.compiler + ", " + std::to_string(context.bits) + "-bit " + context.buildType + " | " +
           context.date;
}

namespace {

// The processors' lines, named as the JSON context's fields; a number of an
// unknown shape is left empty.
void WriteCsvProcessors(std::ostream& out, const ProcessorContext& p) {
    auto count = [](const std::optional<uint32_t>& value) { return value ? std::to_string(*value) : std::string(); };
    std::string kinds;
    for (const CpuKind& kind : p.kinds) {
        kinds += (kinds.empty() ? "" : "; ") + kind.name + ": " + Plural(kind.cores, "core", "cores") + ", " +
                 Plural(kind.processors, "processor", "processors");
    }
    out << "# usable_processors: " << p.usable << "\n"
        << "# usable_reason: " << p.reason << "\n"
        << "# shape: " << p.shape << "\n"
        << "# packages: " << count(p.packages) << "\n"
        << "# numa_nodes: " << count(p.numaNodes) << "\n"
        << "# cores: " << count(p.cores) << "\n"
        << "# pus_per_core: " << count(p.pusPerCore) << "\n"
        << "# cpu_kinds: " << kinds << "\n"
        << "# topology_source: " << p.topologySource << "\n"
        << "# bind: " << p.bind << "\n";
}

// Where each sensor was read from, or why not, named as the JSON context's.
void WriteCsvSensors(std::ostream& out, const SensorSources& s) {
    out << "# sensor_clock: " << s.clock << "\n"
        << "# sensor_clock_offered: " << s.clockOffered << "\n"
        << "# sensor_temperature: " << s.temperature << "\n"
        << "# sensor_throttle: " << s.throttle << "\n"
        << "# sensor_load: " << s.load << "\n"
        << "# sensor_steal: " << s.steal << "\n"
        << "# sensor_energy: " << s.energy << "\n"
        << "# sensor_root: " << s.root << "\n";
}

}  // namespace

// Comment lines, skipped by CSV readers that know '#' comments (and easy to
// strip for those that do not).
void WriteCsvContext(std::ostream& out, const RunContext& context) {
    out << "# vantrel-cli " << context.version << "\n"
        << "# cpu: " << context.cpu << "\n"
        << "# logical_processors: " << context.logicalProcessors << "\n";
    WriteCsvProcessors(out, context.processors);
    WriteCsvSensors(out, context.sensors);
    out << "# os: " << context.os << "\n"
        << "# compiler: " << context.compiler << "\n"
        << "# build_type: " << context.buildType << "\n"
        << "# flags: " << context.flags << "\n"
        << "# bits: " << context.bits << "\n"
        << "# date: " << context.date << "\n";
}

const char* const kMachineCsvColumns =
    ",clock_min_mhz,clock_median_mhz,clock_max_mhz,clock_offered_mhz,temperature_max_c,throttle_events,other_load,"
    "steal,energy_joules,primes_per_joule";

std::string MachineCsv(const SampleSummary& m, uint32_t primes) {
    auto number = [](const std::optional<double>& value) { return "," + (value ? FullPrecision(*value) : std::string()); };
    return number(m.clockMinMhz) + number(m.clockMedianMhz) + number(m.clockMaxMhz) + number(m.clockOfferedMhz) +
           number(m.temperatureMaxC) + "," + (m.throttleEvents ? std::to_string(*m.throttleEvents) : std::string()) +
           number(m.otherLoad) + number(m.steal) + number(m.energyJoules) +
           number(m.energyJoules && *m.energyJoules > 0.0 ? std::optional<double>(double(primes) / *m.energyJoules)
                                                         : std::nullopt);
}

std::unique_ptr<ReportWriter> MakeReportWriter(ReportFormat format, std::ostream& out, bool sweep, int repeat) {
    switch (format) {
        case ReportFormat::Csv: return std::make_unique<CsvReport>(out);
        case ReportFormat::Json: return std::make_unique<JsonReport>(out);
        case ReportFormat::Table: break;
    }
    return std::make_unique<TableReport>(out, sweep, repeat);
}
