#include "results/Compare.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "engine/Text.h"
#include "results/JsonReport.h"
#include "runner/ExitCodes.h"
#include "runner/JsonForms.h"
#include "runner/MachineWords.h"
#include "runner/Statistics.h"
#include "runner/TerminalText.h"
#include "runner/TextTable.h"

namespace {

using Json = nlohmann::ordered_json;

int TaskOrder(const std::string& task) {
    const int index = TaskTable::Find(task);
    return index < 0 ? TaskTable::count : index;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// 5, 2.5: a percentage as given.
std::string Shortest(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string SecondsText(const std::optional<double>& seconds) {
    return seconds ? PreciseSecondsText(*seconds) : std::string();
}

std::string RatioText(const std::optional<double>& ratio) { return ratio ? Fixed(*ratio, 3) : std::string(); }

std::string ChangeText(const std::optional<double>& ratio) {
    if (!ratio) return {};
    const double change = (*ratio - 1.0) * 100.0;
    return (change >= 0.0 ? "+" : "") + Fixed(change, 1) + "%";
}

std::string PText(const std::optional<double>& p) {
    if (!p) return "-";
    if (*p >= 0.001) return Fixed(*p, 4);
    char text[64];
    std::snprintf(text, sizeof text, "%.1e", *p);
    return text;
}

std::string RunsText(const SettingComparison& s) { return std::to_string(s.baseRuns) + "/" + std::to_string(s.newRuns); }

std::string CpuText(const RunContext& c) {
    const uint32_t usable = c.processors.usable > 0 ? c.processors.usable : c.logicalProcessors;
    return (c.cpu.empty() ? "unknown" : c.cpu) + ", " + ProcessorPhrase(c.logicalProcessors, usable, c.processors.reason);
}

std::string BuildText(const RunContext& c) {
    std::string text = "vantrel-cli " + c.version + ", " + c.compiler + " " + std::to_string(c.bits) + "-bit " + c.buildType;
    if (!c.flags.empty()) text += " (" + c.flags + ")";
    return text;
}

std::string SourceLine(const ResultSet& set) {
    std::string text = set.source;
    if (!set.id.empty()) text += " (invocation " + set.id + ")";
    if (!set.context.date.empty()) text += ", " + set.context.date;
    if (!set.label.empty()) text += ", label \"" + set.label + "\"";
    return OneLine(text);
}

// The verdict of a setting with finished runs on both sides: by the U test
// where both have kMinTestedRuns, else by the ratio of the medians alone.
void Judge(SettingComparison& c, const std::vector<double>& base, const std::vector<double>& newer, double alpha,
           double thresholdPercent, std::optional<double> failOnSlowdownPercent) {
    c.baseMedian = MedianOf(base);
    c.newMedian = MedianOf(newer);
    c.ratio = *c.newMedian / *c.baseMedian;
    const double change = (*c.ratio - 1.0) * 100.0;
    if (base.size() >= size_t(kMinTestedRuns) && newer.size() >= size_t(kMinTestedRuns)) {
        const MannWhitneyResult test = MannWhitneyU(newer, base);
        c.pValue = test.pValue;
        // The direction of the medians; where they are equal, that of U.
        const double direction = *c.ratio != 1.0 ? *c.ratio - 1.0 : test.u - double(base.size() * newer.size()) / 2.0;
        c.verdict = test.pValue >= alpha || direction == 0.0 ? "no significant change"
                    : direction > 0.0                       ? "slower"
                                                            : "faster";
    } else {
        c.verdict = change > thresholdPercent    ? "slower"
                    : change < -thresholdPercent ? "faster"
                                                 : "no significant change";
    }
    c.gateFailed = failOnSlowdownPercent && change > *failOnSlowdownPercent && c.verdict == "slower";
}

// "CPU", "Build", "System": the same on both sides, or each side's on a
// line of its own ("CPU (BASE)", "CPU (NEW)"), so that a long CPU name keeps
// within the table's width.
std::vector<std::pair<std::string, std::string>> ContextLines(const ResultSet& base, const ResultSet& newer) {
    std::vector<std::pair<std::string, std::string>> lines;
    auto add = [&](const std::string& name, const std::string& a, const std::string& b) {
        if (a == b) {
            lines.emplace_back(name, OneLine(a));
        } else {
            lines.emplace_back(name + " (BASE)", OneLine(a));
            lines.emplace_back(name + " (NEW)", OneLine(b));
        }
    };
    add("CPU", CpuText(base.context), CpuText(newer.context));
    add("Build", BuildText(base.context), BuildText(newer.context));
    add("System", base.context.os, newer.context.os);
    return lines;
}

bool AnyUntested(const std::vector<SettingComparison>& settings) {
    return std::any_of(settings.begin(), settings.end(), [](const SettingComparison& s) { return s.ratio && !s.pValue; });
}

void WriteTable(std::ostream& out, const ResultSet& base, const ResultSet& newer,
                const std::vector<SettingComparison>& settings, double threshold, bool colours) {
    out << "BASE  " << SourceLine(base) << "\n";
    out << "NEW   " << SourceLine(newer) << "\n";
    out << LabelledLines(ContextLines(base, newer), kReportWidth) << "\n";
    const TextTable table({4, 12, 5, 11, 11, 6, 7, 7});
    auto line = [&](const std::vector<std::string>& cells) { out << table.Line(cells) << "\n"; };
    line({"Task", "Thread Count", "Runs", "Base Median", "New Median", "Ratio", "Change", "p-value", "Verdict"});
    for (const SettingComparison& s : settings) {
        line({s.task, ThreadCountText(s.threads), RunsText(s), SecondsText(s.baseMedian), SecondsText(s.newMedian),
              RatioText(s.ratio), ChangeText(s.ratio), s.ratio ? PText(s.pValue) : "",
              Painted(s.verdict, s.verdict == "slower" ? Colour::Red : Colour::Green,
                      colours && (s.verdict == "slower" || s.verdict == "faster"))});
    }
    // What the machine did, for the settings where the two sides differ in it.
    bool headed = false;
    for (const SettingComparison& s : settings) {
        const std::string a = MachineBrief(s.baseMachine);
        const std::string b = MachineBrief(s.newMachine);
        if (a == b) continue;
        if (!headed) out << "\nMachine during the runs, where it differs:\n";
        headed = true;
        out << s.task << " on " << ThreadCountText(s.threads) << ": BASE " << (a.empty() ? "not read" : a) << " | NEW "
            << (b.empty() ? "not read" : b) << "\n";
    }
    if (AnyUntested(settings)) {
        out << "\n"
            << WrapWords("Runs are BASE/NEW finished runs. A p-value (two-sided Mann-Whitney U test) needs " +
                             std::to_string(kMinTestedRuns) + " runs on each side: significance needs --repeat " +
                             std::to_string(kMinTestedRuns) +
                             " or more. Settings without one are judged by the ratio alone: a change of more than " +
                             Shortest(threshold) + "% counts.",
                         kReportWidth)
            << "\n";
    }
    out.flush();
}

void WriteCsv(std::ostream& out, const ResultSet& base, const ResultSet& newer,
              const std::vector<SettingComparison>& settings, double alpha) {
    auto side = [&](const char* name, const ResultSet& set) {
        out << "# " << name << ": " << OneLine(set.source) << "\n"
            << "# " << name << "_invocation: " << set.id << "\n"
            << "# " << name << "_label: " << OneLine(set.label) << "\n"
            << "# " << name << "_date: " << set.context.date << "\n"
            << "# " << name << "_cpu: " << OneLine(CpuText(set.context)) << "\n"
            << "# " << name << "_build: " << OneLine(BuildText(set.context)) << "\n"
            << "# " << name << "_os: " << OneLine(set.context.os) << "\n";
    };
    side("base", base);
    side("new", newer);
    out << "# alpha: " << FullPrecision(alpha) << "\n"
        << "task,threads,base_runs,new_runs,base_median_seconds,new_median_seconds,ratio,change_percent,p_value,"
           "verdict,gate_failed,base_machine,new_machine\n";
    auto number = [](const std::optional<double>& v) { return v ? FullPrecision(*v) : std::string(); };
    for (const SettingComparison& s : settings) {
        const std::string change = s.ratio ? FullPrecision((*s.ratio - 1.0) * 100.0) : std::string();
        out << CsvField(s.task) << ',' << s.threads << ',' << s.baseRuns << ',' << s.newRuns << ','
            << number(s.baseMedian) << ',' << number(s.newMedian) << ',' << number(s.ratio) << ',' << change
            << ',' << number(s.pValue) << ',' << CsvField(s.verdict) << ',' << (s.gateFailed ? "true" : "false")
            << ',' << CsvField(MachineBrief(s.baseMachine)) << ',' << CsvField(MachineBrief(s.newMachine)) << "\n";
    }
    out.flush();
}

void WriteJson(std::ostream& out, const ResultSet& base, const ResultSet& newer,
               const std::vector<SettingComparison>& settings, const CompareOptions& options, double threshold) {
    auto side = [](const ResultSet& set) {
        return Json{{"source", set.source},
                    {"invocation", set.id.empty() ? Json(nullptr) : Json(std::stoll(set.id))},
                    {"label", set.label},
                    {"context", set.context}};
    };
    auto number = [](const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); };
    Json document = {{"base", side(base)},
                     {"new", side(newer)},
                     {"alpha", options.alpha},
                     {"min_tested_runs", kMinTestedRuns},
                     {"untested_threshold_percent", threshold},
                     {"fail_on_slowdown_percent", number(options.failOnSlowdownPercent)}};
    document["settings"] = Json::array();
    for (const SettingComparison& s : settings) {
        document["settings"].push_back({
            {"task", s.task},
            {"threads", s.threads},
            {"base_runs", s.baseRuns},
            {"new_runs", s.newRuns},
            {"base_median_seconds", number(s.baseMedian)},
            {"new_median_seconds", number(s.newMedian)},
            {"ratio", number(s.ratio)},
            {"change_percent", s.ratio ? Json((*s.ratio - 1.0) * 100.0) : Json(nullptr)},
            {"p_value", number(s.pValue)},
            {"verdict", s.verdict},
            {"gate_failed", s.gateFailed},
            {"base_machine", MachineJson(s.baseMachine, TaskTable::SizeOf(s.task))},
            {"new_machine", MachineJson(s.newMachine, TaskTable::SizeOf(s.task))},
        });
    }
    // Invalid UTF-8 (a label from a terminal in another encoding) is replaced, not thrown.
    out << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
    out.flush();
}

}  // namespace

std::vector<SettingComparison> CompareResults(const ResultSet& base, const ResultSet& newer, double alpha,
                                              double thresholdPercent, std::optional<double> failOnSlowdownPercent) {
    // Every setting of either side, in task and thread order, with its two sides.
    using Sides = std::pair<const ResultSetting*, const ResultSetting*>;
    std::map<std::pair<int, std::pair<uint16_t, std::string>>, Sides> merged;
    for (const ResultSetting& s : base.settings) merged[{TaskOrder(s.task), {s.threads, s.task}}].first = &s;
    for (const ResultSetting& s : newer.settings) merged[{TaskOrder(s.task), {s.threads, s.task}}].second = &s;

    std::vector<SettingComparison> settings;
    for (const auto& [key, sides] : merged) {
        const auto& [a, b] = sides;
        SettingComparison c;
        c.task = key.second.second;
        c.threads = key.second.first;
        if (a != nullptr) c.baseMachine = a->machine;
        if (b != nullptr) c.newMachine = b->machine;
        c.baseRuns = a != nullptr ? a->seconds.size() : 0;
        c.newRuns = b != nullptr ? b->seconds.size() : 0;
        if (a == nullptr || b == nullptr) {
            c.verdict = a == nullptr ? "only in NEW" : "only in BASE";
        } else if (a->seconds.empty() || b->seconds.empty()) {
            c.verdict = std::string("no finished run in ") + (a->seconds.empty() ? "BASE" : "NEW");
        } else {
            Judge(c, a->seconds, b->seconds, alpha, thresholdPercent, failOnSlowdownPercent);
        }
        settings.push_back(c);
    }
    return settings;
}

namespace {

bool ShareASetting(const ResultSet& base, const ResultSet& newer) {
    for (const ResultSetting& a : base.settings) {
        for (const ResultSetting& b : newer.settings) {
            if (a.task == b.task && a.threads == b.threads) return true;
        }
    }
    return false;
}

// "1M on 1 core, 1M on 2 cores", the first few of a set.
std::string SettingsText(const ResultSet& set) {
    constexpr size_t kShown = 4;
    std::string text;
    for (size_t i = 0; i < set.settings.size() && i < kShown; ++i) {
        text += (i == 0 ? "" : ", ") + OneLine(set.settings[i].task) + " on " + ThreadCountText(set.settings[i].threads);
    }
    if (set.settings.size() > kShown) text += ", ...";
    return text;
}

}  // namespace

int RunCompare(const CompareOptions& options, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& interrupt) {
    auto fail = [&](const std::string& line) {
        err << "vantrel-cli: " << line << "\n";
        err.flush();
        return kCompareBadInput;
    };
    if (!(options.alpha > 0.0 && options.alpha < 1.0)) {
        return fail("--alpha must lie between 0 and 1 (exclusive); valid: for example 0.05");
    }
    if (options.failOnSlowdownPercent && !(*options.failOnSlowdownPercent >= 0.0)) {
        return fail("--fail-on-slowdown needs a percentage of 0 or more; valid: for example 5");
    }
    ResultSet base;
    ResultSet newer;
    try {
        base = LoadResultSet(options.baseSource, &interrupt);
        newer = LoadResultSet(options.newSource, &interrupt);
    } catch (const ReadStopped&) {
        return kExitInterrupted;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    if (interrupt.load()) return kExitInterrupted;
    // Results with no setting in common (other tasks, other thread counts)
    // measured different things: a table of "only in" lines would pass for
    // a comparison, and a gate would pass them.
    if (!base.settings.empty() && !newer.settings.empty() && !ShareASetting(base, newer)) {
        return fail("BASE and NEW are not the same kind of result: they share no task and thread count (BASE " +
                    SettingsText(base) + ", NEW " + SettingsText(newer) +
                    "); valid: two results of the same task, as two sweeps of 10M");
    }

    const double threshold = options.failOnSlowdownPercent.value_or(kUntestedChangePercent);
    const std::vector<SettingComparison> settings =
        CompareResults(base, newer, options.alpha, threshold, options.failOnSlowdownPercent);
    switch (options.format) {
        case ReportFormat::Table: WriteTable(out, base, newer, settings, threshold, options.colours); break;
        case ReportFormat::Csv: WriteCsv(out, base, newer, settings, options.alpha); break;
        case ReportFormat::Json: WriteJson(out, base, newer, settings, options, threshold); break;
    }

    if (std::none_of(settings.begin(), settings.end(), [](const SettingComparison& s) { return s.ratio.has_value(); })) {
        return fail("BASE and NEW have no setting with finished runs in common: nothing to compare");
    }
    int code = kCompareOk;
    for (const SettingComparison& s : settings) {
        if (!s.gateFailed) continue;
        err << "vantrel-cli: slower by more than " << Shortest(*options.failOnSlowdownPercent) << "%: task "
            << s.task << " on " << ThreadCountText(s.threads) << ", " << ChangeText(s.ratio);
        if (s.pValue) err << " (p = " << PText(s.pValue) << ")";
        err << "\n";
        code = kCompareSlower;
    }
    err.flush();
    return code;
}
