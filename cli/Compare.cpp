#include "cli/Compare.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "cli/ReportWriter.h"
#include "cli/ResultStore.h"
#include "cli/RunRecord.h"
#include "cli/SaveFileName.h"
#include "cli/Statistics.h"
#include "engine/RunText.h"
#include "engine/TaskTable.h"

namespace {

using Json = nlohmann::ordered_json;

std::runtime_error Unreadable(const std::string& source, const std::string& reason) {
    return std::runtime_error("Could not read \"" + OneLine(source) + "\": " + reason);
}

// The settings of a list of runs, in the order they first ran.
void AddRun(std::vector<ResultSetting>& settings, const std::string& task, uint16_t threads,
            const std::vector<double>& seconds, const std::string& status) {
    auto it = std::find_if(settings.begin(), settings.end(),
                           [&](const ResultSetting& s) { return s.task == task && s.threads == threads; });
    if (it == settings.end()) {
        settings.push_back({task, threads, {}, "finished"});
        it = settings.end() - 1;
    }
    it->seconds.insert(it->seconds.end(), seconds.begin(), seconds.end());
    if (status != "finished") it->status = status;
}

ResultSet LoadFromStore(const std::string& source) {
    const std::string rest = source.substr(3);
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
        throw std::runtime_error("\"" + OneLine(source) +
                                 "\" names no stored invocation (valid: db:FILE:ID, db:FILE:last, db:FILE:last~K)");
    }
    ResultStore store(rest.substr(0, colon), ResultStore::Access::Read);
    const StoredInvocation invocation = store.Load(rest.substr(colon + 1));
    ResultSet set;
    set.source = source;
    set.id = std::to_string(invocation.id);
    set.context = invocation.context;
    set.label = invocation.label;
    for (const StoredRun& run : invocation.runs) {
        std::vector<double> seconds;
        if (run.status == "finished" && run.seconds) seconds.push_back(*run.seconds);
        AddRun(set.settings, run.task, run.threads, seconds, run.status);
    }
    return set;
}

std::string TextOr(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

template <typename T>
T NumberOr(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<T>() : T{};
}

ResultSet LoadFromReport(const std::string& source) {
    std::ifstream in(FilePathOf(source), std::ios::binary);
    if (!in) {
        std::error_code ignored;
        throw Unreadable(source, std::filesystem::exists(FilePathOf(source), ignored) ? "the file cannot be opened"
                                                                                      : "no such file");
    }
    Json document = Json::parse(in, nullptr, false);
    if (document.is_discarded()) throw Unreadable(source, "the file is not JSON");
    const auto results = document.is_object() ? document.find("results") : document.end();
    if (!document.is_object() || results == document.end() || !results->is_array()) {
        throw Unreadable(source, "the file is not a JSON report of vantrel-cli (no \"results\" list)");
    }
    ResultSet set;
    set.source = source;
    if (const auto context = document.find("context"); context != document.end() && context->is_object()) {
        RunContext& c = set.context;
        c.version = TextOr(*context, "version");
        c.cpu = TextOr(*context, "cpu");
        c.logicalProcessors = NumberOr<uint32_t>(*context, "logical_processors");
        c.os = TextOr(*context, "os");
        c.date = TextOr(*context, "date");
        if (const auto build = context->find("build"); build != context->end() && build->is_object()) {
            c.compiler = TextOr(*build, "compiler");
            c.buildType = TextOr(*build, "build_type");
            c.flags = TextOr(*build, "flags");
            c.bits = NumberOr<int>(*build, "bits");
        }
    }
    for (const Json& item : *results) {
        const auto runs = item.is_object() ? item.find("run_seconds") : item.end();
        const bool valid = item.is_object() && item.contains("task") && item["task"].is_string() &&
                           item.contains("threads") && item["threads"].is_number_unsigned() &&
                           item["threads"].get<uint64_t>() <= 0xFFFF && runs != item.end() &&
                           runs->is_array() &&
                           std::all_of(runs->begin(), runs->end(), [](const Json& v) { return v.is_number(); });
        if (!valid) {
            throw Unreadable(source, "the file is not a JSON report of vantrel-cli (a result without task, threads "
                                     "or run_seconds)");
        }
        const std::string status = TextOr(item, "status");
        AddRun(set.settings, item["task"].get<std::string>(), item["threads"].get<uint16_t>(),
               runs->get<std::vector<double>>(), status.empty() ? "finished" : status);
    }
    return set;
}

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
    return seconds ? Fixed(*seconds, 3) + " sec" : std::string();
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
    return (c.cpu.empty() ? "unknown" : c.cpu) + ", " + std::to_string(c.logicalProcessors) + " logical processors";
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

// "CPU", "Build", "System": the same on both sides, or each side's.
std::vector<std::pair<std::string, std::string>> ContextLines(const ResultSet& base, const ResultSet& next) {
    std::vector<std::pair<std::string, std::string>> lines;
    auto add = [&](const std::string& same, const std::string& differ, const std::string& a, const std::string& b) {
        if (a == b) {
            lines.emplace_back(same, a);
        } else {
            lines.emplace_back(differ, "BASE " + a + " | NEW " + b);
        }
    };
    add("CPU", "Different CPUs", CpuText(base.context), CpuText(next.context));
    add("Build", "Different builds", BuildText(base.context), BuildText(next.context));
    add("System", "Different systems", base.context.os, next.context.os);
    return lines;
}

std::string Padded(const std::string& text, size_t width) {
    if (text.size() >= width) return text + "  ";
    return text + std::string(width - text.size() + 2, ' ');
}

bool AnyUntested(const std::vector<SettingComparison>& settings) {
    return std::any_of(settings.begin(), settings.end(), [](const SettingComparison& s) { return s.ratio && !s.pValue; });
}

void WriteTable(std::ostream& out, const ResultSet& base, const ResultSet& next,
                const std::vector<SettingComparison>& settings, double threshold) {
    out << "BASE  " << SourceLine(base) << "\n";
    out << "NEW   " << SourceLine(next) << "\n";
    for (const auto& [name, text] : ContextLines(base, next)) out << name << ": " << OneLine(text) << "\n";
    out << "\n";
    const std::vector<size_t> widths = {4, 12, 5, 11, 11, 6, 7, 7};
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (size_t i = 0; i < cells.size(); ++i) text += i + 1 < cells.size() ? Padded(cells[i], widths[i]) : cells[i];
        text.erase(text.find_last_not_of(' ') + 1);
        out << text << "\n";
    };
    line({"Task", "Thread Count", "Runs", "Base Median", "New Median", "Ratio", "Change", "p-value", "Verdict"});
    for (const SettingComparison& s : settings) {
        line({s.task, ThreadCountText(s.threads), RunsText(s), SecondsText(s.baseMedian), SecondsText(s.newMedian),
              RatioText(s.ratio), ChangeText(s.ratio), s.ratio ? PText(s.pValue) : "", s.verdict});
    }
    if (AnyUntested(settings)) {
        out << "\n"
            << "Runs are BASE/NEW finished runs. A p-value (two-sided Mann-Whitney U test) needs " << kMinTestedRuns
            << " runs on each side: significance needs --repeat " << kMinTestedRuns
            << " or more. Settings without one are judged by the ratio alone: a change of more than "
            << Shortest(threshold) << "% counts.\n";
    }
    out.flush();
}

void WriteCsv(std::ostream& out, const ResultSet& base, const ResultSet& next,
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
    side("new", next);
    out << "# alpha: " << FullPrecision(alpha) << "\n"
        << "task,threads,base_runs,new_runs,base_median_seconds,new_median_seconds,ratio,change_percent,p_value,"
           "verdict,gate_failed\n";
    auto number = [](const std::optional<double>& v) { return v ? FullPrecision(*v) : std::string(); };
    for (const SettingComparison& s : settings) {
        const std::string change = s.ratio ? FullPrecision((*s.ratio - 1.0) * 100.0) : std::string();
        out << CsvField(s.task) << ',' << s.threads << ',' << s.baseRuns << ',' << s.newRuns << ','
            << number(s.baseMedian) << ',' << number(s.newMedian) << ',' << number(s.ratio) << ',' << change
            << ',' << number(s.pValue) << ',' << CsvField(s.verdict) << ',' << (s.gateFailed ? "true" : "false")
            << "\n";
    }
    out.flush();
}

Json ContextJson(const RunContext& c) {
    return {
        {"version", c.version},
        {"cpu", c.cpu},
        {"logical_processors", c.logicalProcessors},
        {"os", c.os},
        {"build", {{"compiler", c.compiler}, {"build_type", c.buildType}, {"flags", c.flags}, {"bits", c.bits}}},
        {"date", c.date},
    };
}

void WriteJson(std::ostream& out, const ResultSet& base, const ResultSet& next,
               const std::vector<SettingComparison>& settings, const CompareOptions& options, double threshold) {
    auto side = [](const ResultSet& set) {
        return Json{{"source", set.source},
                    {"invocation", set.id.empty() ? Json(nullptr) : Json(std::stoll(set.id))},
                    {"label", set.label},
                    {"context", ContextJson(set.context)}};
    };
    auto number = [](const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); };
    Json document = {{"base", side(base)},
                     {"new", side(next)},
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
        });
    }
    // Invalid UTF-8 (a label from a terminal in another encoding) is replaced, not thrown.
    out << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
    out.flush();
}

}  // namespace

ResultSet LoadResultSet(const std::string& source) {
    if (source.compare(0, 3, "db:") == 0) return LoadFromStore(source);
    return LoadFromReport(source);
}

std::vector<SettingComparison> CompareResults(const ResultSet& base, const ResultSet& next, double alpha,
                                              double thresholdPercent, std::optional<double> failOnSlowdownPercent) {
    std::map<std::pair<int, std::pair<uint16_t, std::string>>, SettingComparison> merged;
    auto entry = [&](const ResultSetting& s) -> SettingComparison& {
        SettingComparison& c = merged[{TaskOrder(s.task), {s.threads, s.task}}];
        c.task = s.task;
        c.threads = s.threads;
        return c;
    };
    for (const ResultSetting& s : base.settings) entry(s).baseRuns = s.seconds.size();
    for (const ResultSetting& s : next.settings) entry(s).newRuns = s.seconds.size();

    auto find = [](const ResultSet& set, const SettingComparison& c) -> const ResultSetting* {
        for (const ResultSetting& s : set.settings) {
            if (s.task == c.task && s.threads == c.threads) return &s;
        }
        return nullptr;
    };

    std::vector<SettingComparison> settings;
    for (auto& [key, c] : merged) {
        const ResultSetting* a = find(base, c);
        const ResultSetting* b = find(next, c);
        if (a == nullptr || b == nullptr) {
            c.verdict = a == nullptr ? "only in NEW" : "only in BASE";
        } else if (a->seconds.empty() || b->seconds.empty()) {
            c.verdict = std::string("no finished run in ") + (a->seconds.empty() ? "BASE" : "NEW");
        } else {
            c.baseMedian = MedianOf(a->seconds);
            c.newMedian = MedianOf(b->seconds);
            c.ratio = *c.newMedian / *c.baseMedian;
            const double change = (*c.ratio - 1.0) * 100.0;
            if (a->seconds.size() >= size_t(kMinTestedRuns) && b->seconds.size() >= size_t(kMinTestedRuns)) {
                const MannWhitneyResult test = MannWhitneyU(b->seconds, a->seconds);
                c.pValue = test.pValue;
                // The direction of the medians; where they are equal, that of U.
                const double direction =
                    *c.ratio != 1.0 ? *c.ratio - 1.0 : test.u - double(a->seconds.size() * b->seconds.size()) / 2.0;
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
        settings.push_back(c);
    }
    return settings;
}

int RunCompare(const CompareOptions& options, std::ostream& out, std::ostream& err) {
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
    ResultSet next;
    try {
        base = LoadResultSet(options.base);
        next = LoadResultSet(options.next);
    } catch (const std::exception& e) {
        return fail(e.what());
    }

    const double threshold = options.failOnSlowdownPercent.value_or(kUntestedChangePercent);
    const std::vector<SettingComparison> settings =
        CompareResults(base, next, options.alpha, threshold, options.failOnSlowdownPercent);
    switch (options.format) {
        case ReportFormat::Table: WriteTable(out, base, next, settings, threshold); break;
        case ReportFormat::Csv: WriteCsv(out, base, next, settings, options.alpha); break;
        case ReportFormat::Json: WriteJson(out, base, next, settings, options, threshold); break;
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
