#include "runner/StressReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

#include "engine/RunText.h"
#include "engine/Text.h"
#include "runner/JsonForms.h"
#include "runner/ReportWriter.h"
#include "runner/Statistics.h"
#include "runner/TextTable.h"

namespace {

const char* VerifyName(VerifyMode mode) { return mode == VerifyMode::Full ? "full" : "digest"; }

// "verified: last prime + digest, 50 of 52 runs"
std::string VerifiedLine(const StressTally& tally) {
    return std::string(kVerifiedFinished) + ", " + std::to_string(tally.seconds.size()) + " of " +
           std::to_string(tally.runs) + (tally.runs == 1 ? " run" : " runs");
}

// "min 11.48 sec, median 11.52 sec, max 11.71 sec", or "no run verified".
std::string TimesText(const StressTally& tally) {
    if (tally.seconds.empty()) return "no run verified";
    return "min " + SecondsText(*tally.fastest) + ", median " + SecondsText(MedianOf(tally.seconds)) + ", max " +
           SecondsText(*tally.slowest);
}

// The change of the time per run the cause explains: none with too few runs.
std::optional<double> DriftChange(const StressTally& tally) {
    const std::optional<Drift> drift = DriftOf(tally.seconds);
    return drift ? std::optional<double>(drift->Change()) : std::nullopt;
}

// "+5.10 %": a place's median against the others'.
std::string AgainstText(const std::optional<double>& change) {
    if (!change) return {};
    return std::string(*change < 0 ? "-" : "+") + FormatFixed2(std::fabs(*change) * 100.0) + " %";
}

std::string OptionalNumber(const std::optional<double>& value) { return value ? FullPrecision(*value) : std::string(); }

// "Other load" -> "other_load", as CSV names a summary line.
std::string FieldName(const std::string& label) {
    std::string name;
    for (char c : label) name += c == ' ' ? '_' : char(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

class TableStress final : public StressReport {
public:
    explicit TableStress(std::ostream& out_) : out(out_) {}

    void Begin(const RunContext& context, const StressSettings& settings_) override {
        sensors = context.sensors;
        settings = settings_;
        out << ContextLine(context) << "\n\n"
            << "Stress: task " << settings.task << " on " << settings.threadText << " for "
            << DurationText(double(settings.seconds)) << "\n";
        out.flush();
    }

    void Run(uint64_t, const RunRecord&) override {}

    void End(const StressTally& tally, double elapsed, const std::string& interruption,
             const Verdict& verdict) override {
        Line("Runs", std::to_string(tally.runs) + " in " + DurationText(elapsed) + ", " +
                         Plural(tally.errors, "error", "errors") +
                         (tally.stopped > 0 ? ", " + std::to_string(tally.stopped) + " stopped" : ""));
        Line("Time per run", TimesText(tally));
        Line("Drift", DriftText(tally.seconds));
        for (const auto& [label, text] : tally.machine.Lines(sensors, settings.primes)) Line(label, text);
        Line("Machine", tally.machine.Cause(DriftChange(tally), sensors));
        if (tally.cores) Cores(*tally.cores);
        if (!interruption.empty()) Line("Interrupted", interruption);
        for (const std::string& error : tally.errorLines) Line("Error", error);
        if (tally.errors > tally.errorLines.size()) {
            Line("Error", "and " + std::to_string(tally.errors - tally.errorLines.size()) + " more");
        }
        out << VerifiedLine(tally) << "\n" << verdict.text << "\n";
        out.flush();
    }

private:
    void Line(const std::string& label, const std::string& text) {
        out << label << std::string(label.size() < 14 ? 14 - label.size() : 1, ' ') << text << "\n";
    }

    // Each place's runs, then the places that were wrong or slow.
    void Cores(const CoreTally& cores) {
        std::vector<std::vector<std::string>> lines = {{"Place", "Runs", "Errors", "Median", "Against the others"}};
        for (const CoreTally::Row& row : cores.Rows()) {
            lines.push_back({row.name, std::to_string(row.runs), std::to_string(row.errors),
                             row.medianSeconds ? SecondsText(*row.medianSeconds) : std::string(),
                             AgainstText(row.againstOthers)});
        }
        TextTable table;
        for (const auto& line : lines) table.Fit(line);
        out << "\n";
        for (const auto& line : lines) out << table.Line(line) << "\n";
        out << "\n";
        const std::vector<std::string> findings = cores.Findings();
        if (findings.empty()) Line("Each core", "no place computed a wrong prime or ran markedly slower than the others");
        for (const std::string& finding : findings) Line("Each core", finding);
    }

    std::ostream& out;
    SensorSources sensors;
    StressSettings settings;
};

class CsvStress final : public StressReport {
public:
    explicit CsvStress(std::ostream& out_) : out(out_) {}

    void Begin(const RunContext& context, const StressSettings& settings_) override {
        sensors = context.sensors;
        settings = settings_;
        WriteCsvContext(out, context);
        out << "# stress: task " << settings.task << ", threads " << settings.threads << ", seconds "
            << settings.seconds << ", verify " << VerifyName(settings.verify) << "\n"
            << "run,task,threads,seconds,status,verdict,processor" << kMachineCsvColumns << "\n";
        out.flush();
    }

    void Run(uint64_t number, const RunRecord& run) override {
        out << number << ',' << CsvField(run.task) << ',' << run.threads << ','
            << (run.progressed ? FullPrecision(run.seconds) : std::string()) << ',' << RunStatusName(run.status) << ','
            << CsvField(run.verdict) << ',' << (run.processor ? std::to_string(*run.processor) : std::string())
            << MachineCsv(run.machine, run.targetCount) << "\n";
        out.flush();
    }

    void End(const StressTally& tally, double elapsed, const std::string& interruption,
             const Verdict& verdict) override {
        const bool interrupted = !interruption.empty();
        const std::optional<Drift> drift = DriftOf(tally.seconds);
        out << "# runs: " << tally.runs << "\n"
            << "# errors: " << tally.errors << "\n"
            << "# stopped: " << tally.stopped << "\n"
            << "# interrupted: " << (interrupted ? "yes" : "no") << "\n"
            << "# elapsed_seconds: " << FullPrecision(elapsed) << "\n";
        if (!tally.seconds.empty()) {
            out << "# min_seconds: " << FullPrecision(*tally.fastest) << "\n"
                << "# median_seconds: " << FullPrecision(MedianOf(tally.seconds)) << "\n"
                << "# max_seconds: " << FullPrecision(*tally.slowest) << "\n";
        }
        out << "# drift: " << (drift ? FullPrecision(drift->Change()) : DriftText(tally.seconds)) << "\n";
        for (const auto& [label, text] : tally.machine.Lines(sensors, settings.primes)) {
            out << "# " << FieldName(label) << ": " << text << "\n";
        }
        out << "# machine: " << tally.machine.Cause(DriftChange(tally), sensors) << "\n";
        if (tally.cores) {
            for (const CoreTally::Row& row : tally.cores->Rows()) {
                out << "# place: " << row.name << "; processor " << row.processor << "; runs " << row.runs
                    << "; errors " << row.errors << "; median_seconds " << OptionalNumber(row.medianSeconds)
                    << "; against_others " << OptionalNumber(row.againstOthers) << "\n";
            }
            for (const std::string& finding : tally.cores->Findings()) out << "# each_core: " << finding << "\n";
        }
        out << "# verdict: " << verdict.text << "\n";
        out.flush();
    }

private:
    std::ostream& out;
    SensorSources sensors;
    StressSettings settings;
};

// One document, written as the runs end: the runs one a line.
class JsonStress final : public StressReport {
public:
    explicit JsonStress(std::ostream& out_) : out(out_) {}

    void Begin(const RunContext& context, const StressSettings& settings_) override {
        sensors = context.sensors;
        settings = settings_;
        const nlohmann::ordered_json stress = {{"task", settings.task},
                                               {"threads", settings.threads},
                                               {"seconds", settings.seconds},
                                               {"verify", VerifyName(settings.verify)}};
        out << "{\n  \"context\": " << Indented(nlohmann::ordered_json(context)) << ",\n  \"stress\": " << Indented(stress)
            << ",\n  \"runs\": [";
        out.flush();
    }

    void Run(uint64_t number, const RunRecord& run) override {
        nlohmann::ordered_json item = {{"run", number}};
        item["seconds"] = run.progressed ? nlohmann::ordered_json(run.seconds) : nullptr;
        item["status"] = RunStatusName(run.status);
        item["verdict"] = run.verdict;
        item["processor"] = run.processor ? nlohmann::ordered_json(*run.processor) : nullptr;
        item["machine"] = MachineJson(run.machine, run.targetCount);
        out << (first ? "\n    " : ",\n    ") << item.dump();
        out.flush();
        first = false;
    }

    void End(const StressTally& tally, double elapsed, const std::string& interruption,
             const Verdict& verdict) override {
        const bool interrupted = !interruption.empty();
        const std::optional<Drift> drift = DriftOf(tally.seconds);
        const bool timed = !tally.seconds.empty();
        nlohmann::ordered_json summary = {{"runs", tally.runs},
                                          {"errors", tally.errors},
                                          {"stopped", tally.stopped},
                                          {"interrupted", interrupted},
                                          {"elapsed_seconds", elapsed}};
        summary["min_seconds"] = timed ? nlohmann::ordered_json(*tally.fastest) : nullptr;
        summary["median_seconds"] = timed ? nlohmann::ordered_json(MedianOf(tally.seconds)) : nullptr;
        summary["max_seconds"] = timed ? nlohmann::ordered_json(*tally.slowest) : nullptr;
        summary["drift"] = drift ? nlohmann::ordered_json(drift->Change()) : nullptr;
        summary["drift_text"] = DriftText(tally.seconds);
        summary["verified"] = VerifiedLine(tally);
        nlohmann::ordered_json machine = nlohmann::ordered_json::object();
        for (const auto& [label, text] : tally.machine.Lines(sensors, settings.primes)) machine[FieldName(label)] = text;
        machine["cause"] = tally.machine.Cause(DriftChange(tally), sensors);
        summary["machine"] = machine;
        if (tally.cores) {
            nlohmann::ordered_json places = nlohmann::ordered_json::array();
            for (const CoreTally::Row& row : tally.cores->Rows()) {
                nlohmann::ordered_json place = {{"place", row.name}, {"processor", row.processor}, {"runs", row.runs},
                                                {"errors", row.errors}, {"wrong", row.wrong}};
                place["median_seconds"] = row.medianSeconds ? nlohmann::ordered_json(*row.medianSeconds) : nullptr;
                place["against_others"] = row.againstOthers ? nlohmann::ordered_json(*row.againstOthers) : nullptr;
                place["first_wrong_slot"] = row.firstWrongSlot ? nlohmann::ordered_json(*row.firstWrongSlot) : nullptr;
                places.push_back(place);
            }
            summary["each_core"] = places;
            summary["each_core_findings"] = tally.cores->Findings();
        }
        out << (first ? "],\n" : "\n  ],\n") << "  \"summary\": " << Indented(summary)
            << ",\n  \"pass\": " << nlohmann::ordered_json(verdict.pass).dump()
            << ",\n  \"verdict\": " << nlohmann::ordered_json(verdict.text).dump() << "\n}\n";
        out.flush();
    }

private:
    // Pretty-printed one level in.
    static std::string Indented(const nlohmann::ordered_json& value) {
        std::string text = value.dump(2);
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) text.insert(at + 1, "  ");
        return text;
    }

    std::ostream& out;
    bool first = true;
    SensorSources sensors;
    StressSettings settings;
};

}  // namespace

void StressTally::Add(uint64_t number, const RunRecord& run) {
    ++runs;
    outcome.Add(number, run);
    machine.Add(number, run.status == RunStatus::Finished, run.machine);
    if (run.status == RunStatus::Stopped) {
        ++stopped;
        return;
    }
    if (run.status != RunStatus::Failed) last = run.seconds;
    if (run.status == RunStatus::Finished) {
        seconds.push_back(run.seconds);
        fastest = std::min(fastest.value_or(run.seconds), run.seconds);
        slowest = std::max(slowest.value_or(run.seconds), run.seconds);
        return;
    }
    ++errors;
    if (errorLines.size() < kListedErrors) errorLines.push_back("run " + std::to_string(number) + ": " + run.verdict);
}

std::optional<Drift> DriftOf(const std::vector<double>& seconds) {
    if (seconds.size() < kMinDriftRuns) return std::nullopt;
    Drift drift;
    drift.quarter = seconds.size() / 4;
    const auto quarter = std::ptrdiff_t(drift.quarter);
    drift.first = MedianOf(std::vector<double>(seconds.begin(), seconds.begin() + quarter));
    drift.last = MedianOf(std::vector<double>(seconds.end() - quarter, seconds.end()));
    return drift;
}

std::string DriftText(const std::vector<double>& seconds) {
    const std::optional<Drift> drift = DriftOf(seconds);
    if (!drift) {
        return "not measured: " + std::to_string(seconds.size()) + (seconds.size() == 1 ? " run" : " runs") +
               ", it needs at least " + std::to_string(kMinDriftRuns);
    }
    const double change = drift->Change() * 100.0;
    const std::string quarter = std::to_string(drift->quarter);
    std::string text(1, change < 0 ? '-' : '+');
    text += FormatFixed2(std::fabs(change)) + "% (median of the last " + quarter + " runs " + SecondsText(drift->last) +
            ", of the first " + quarter + " " + SecondsText(drift->first) + ")";
    return text;
}

std::string DurationText(double seconds) {
    const auto whole = uint64_t(std::max(seconds, 0.0));
    const uint64_t minutes = whole / 60 % 60;
    const uint64_t rest = whole % 60;
    return std::to_string(whole / 3600) + (minutes < 10 ? ":0" : ":") + std::to_string(minutes) +
           (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

std::string StressLine(const StressSettings& settings, const StressTally& tally, double elapsed, uint64_t running,
                       double percent) {
    std::string line = settings.task + " on " + settings.threadText + ": " + DurationText(elapsed) + " / " +
                       DurationText(double(settings.seconds)) + ", run " + std::to_string(running) + " at " +
                       FormatFixed2(percent) + "%, " + std::to_string(tally.runs) + " done, " +
                       std::to_string(tally.errors) + (tally.errors == 1 ? " error" : " errors");
    if (tally.last) line += ", last " + SecondsText(*tally.last);
    if (tally.slowest) line += ", slowest " + SecondsText(*tally.slowest) + ", fastest " + SecondsText(*tally.fastest);
    return line;
}

std::unique_ptr<StressReport> MakeStressReport(ReportFormat format, std::ostream& out) {
    switch (format) {
        case ReportFormat::Csv: return std::make_unique<CsvStress>(out);
        case ReportFormat::Json: return std::make_unique<JsonStress>(out);
        case ReportFormat::Table: break;
    }
    return std::make_unique<TableStress>(out);
}
