#include "results/Charts.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "engine/RunText.h"
#include "engine/Text.h"
#include "results/Gnuplot.h"
#include "runner/SaveFileName.h"

namespace {

// A gnuplot string: single quotes, in which only a doubled quote is special.
std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : OneLine(text)) {
        if (c == '\'') quoted += '\'';
        quoted += c;
    }
    return quoted + "'";
}

std::string Number(double value) { return FullPrecision(value); }

// Everything both charts share: the SVG terminal, the file, the title, the
// legend under the plot where it covers nothing.
std::string Preamble(const std::string& svgPath, const std::string& title) {
    return "set terminal svg size 960,600 dynamic noenhanced font 'sans,13' background rgb 'white'\n"
           "set output " + Quoted(svgPath) + "\n"
           "set encoding utf8\n"
           "set title " + Quoted(title) + "\n"
           "set key below center horizontal\n"
           "set grid xtics ytics lc rgb '#dddddd'\n";
}

std::string CpuTitle(const std::string& cpu, uint32_t processors) {
    std::string text = cpu.empty() ? "unknown CPU" : cpu;
    if (processors > 0) text += " (" + std::to_string(processors) + " logical processors)";
    return text;
}

std::string Plot(const std::string& svgPath, const std::string& script, const std::string& gnuplot) {
    const std::string problem = SaveTargetProblem(svgPath);
    if (!problem.empty()) return problem;
    return RunGnuplot(gnuplot, script, svgPath);
}

struct SpeedupRow {
    uint16_t threads;
    double speedup;  // of the fastest run
    double low;      // of the slowest run
    double efficiency;
};

std::vector<SpeedupRow> SpeedupRows(const SweepChart& chart) {
    std::vector<SpeedupRow> rows;
    const auto one = std::find_if(chart.points.begin(), chart.points.end(),
                                  [](const SweepChartPoint& p) { return p.threads == 1 && !p.runSeconds.empty(); });
    if (one == chart.points.end()) return rows;
    // Against the fastest 1-thread run, as the report's speedup column.
    const double base = *std::min_element(one->runSeconds.begin(), one->runSeconds.end());
    for (const SweepChartPoint& p : chart.points) {
        if (p.runSeconds.empty() || p.threads == 0) continue;
        const auto [fastest, slowest] = std::minmax_element(p.runSeconds.begin(), p.runSeconds.end());
        if (*fastest <= 0.0) continue;
        const double speedup = base / *fastest;
        rows.push_back({p.threads, speedup, base / *slowest, speedup / p.threads * 100.0});
    }
    return rows;
}

}  // namespace

std::string ChartFailure(const std::string& svgPath, const std::string& reason) {
    return "Could not draw \"" + OneLine(svgPath) + "\": " + reason;
}

SweepChart SweepChartOf(const std::vector<RunRecord>& runs, const RunContext& context) {
    SweepChart chart;
    chart.cpu = context.cpu;
    chart.logicalProcessors = context.logicalProcessors;
    std::map<uint16_t, std::vector<double>> byThreads;
    for (const RunRecord& run : runs) {
        if (chart.task.empty()) chart.task = run.task;
        if (run.status == RunStatus::Finished) byThreads[run.threads].push_back(run.seconds);
    }
    for (auto& [threads, seconds] : byThreads) chart.points.push_back({threads, std::move(seconds)});
    return chart;
}

std::string SweepScript(const SweepChart& chart, const std::string& svgPath) {
    const std::vector<SpeedupRow> rows = SpeedupRows(chart);
    uint16_t maxThreads = 1;
    double top = 1.0;
    double bottom = 1.0;
    double topEfficiency = 100.0;
    bool spread = false;
    for (const SweepChartPoint& p : chart.points) spread = spread || p.runSeconds.size() > 1;
    std::string tics;
    for (const SpeedupRow& r : rows) {
        maxThreads = std::max(maxThreads, r.threads);
        top = std::max(top, r.speedup);
        bottom = std::min(bottom, r.low);
        topEfficiency = std::max(topEfficiency, r.efficiency);
        tics += (tics.empty() ? "" : ", ") + std::to_string(r.threads);
    }
    top = std::max(top, double(maxThreads));

    std::string s = Preamble(svgPath, "Speedup of task " + chart.task + " on " +
                                          CpuTitle(chart.cpu, chart.logicalProcessors));
    s += "set border 11\n"
         "set logscale x 2\n"
         "set logscale y 2\n"
         "set xrange [0.8:" + Number(maxThreads * 1.25) + "]\n"
         "set yrange [" + Number(bottom * 0.8) + ":" + Number(top * 1.25) + "]\n"
         "set y2range [0:" + Number(std::ceil(topEfficiency * 1.1 / 10.0) * 10.0) + "]\n"
         "set xtics (" + tics + ") nomirror\n"
         "set ytics nomirror format '%g'\n"
         "set y2tics 10 format '%g%%'\n"
         "set xlabel 'Threads (log scale)'\n"
         "set ylabel 'Speedup against 1 thread (x, log scale)'\n"
         "set y2label 'Efficiency (speedup / threads, %)'\n"
         "set style arrow 1 heads size screen 0.005,90 lc rgb '#0072b2' lw 1.5\n"
         "$sweep << EOD\n"
         "# threads speedup slowest_run_speedup efficiency_percent\n";
    for (const SpeedupRow& r : rows) {
        s += std::to_string(r.threads) + " " + Number(r.speedup) + " " + Number(r.low) + " " + Number(r.efficiency) + "\n";
    }
    s += "EOD\n"
         "plot $sweep using 1:1 with lines dt 2 lw 1.5 lc rgb '#777777' title 'ideal (speedup = threads)', \\\n";
    if (spread) {
        s += "     $sweep using 1:3:(0):($2-$3) with vectors arrowstyle 1 title 'spread of the runs (slowest to fastest)', \\\n";
    }
    s += "     $sweep using 1:2 with linespoints pt 7 ps 1.2 lw 2 lc rgb '#0072b2' title 'measured speedup (fastest run)', \\\n"
         "     $sweep using 1:4 axes x1y2 with linespoints pt 5 ps 0.9 lw 1.5 lc rgb '#d55e00' title 'efficiency (right axis)'\n";
    return s;
}

namespace {

// Seconds since 1970 of a date the store keeps ("2026-12-07T05:51:04Z"), or
// nothing for another text. The civil calendar of <chrono>, so that no time
// zone and no C library's calendar is involved.
std::optional<int64_t> UtcSeconds(const std::string& date) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (date.size() != 20 || std::sscanf(date.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &year, &month, &day, &hour, &minute,
                                         &second) != 6) {
        return std::nullopt;
    }
    const std::chrono::year_month_day civil{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                                            std::chrono::day{unsigned(day)}};
    if (!civil.ok()) return std::nullopt;
    const int64_t days = std::chrono::sys_days{civil}.time_since_epoch().count();
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace

std::string HistoryScript(const HistoryChart& chart, const std::string& svgPath) {
    std::string title = "Median time of task " + chart.task + " per stored invocation";
    if (!chart.cpu.empty()) title += " on " + chart.cpu;
    std::string s = Preamble(svgPath, title);
    // The ticks are spaced in whole units of what the labels show, so that no
    // two labels read the same: seconds for a short history, minutes within
    // a couple of days, days beyond.
    int64_t first = INT64_MAX;
    int64_t last = INT64_MIN;
    for (const HistorySeries& series : chart.series) {
        for (const auto& point : series.points) {
            if (const std::optional<int64_t> at = UtcSeconds(point.first)) {
                first = std::min(first, *at);
                last = std::max(last, *at);
            }
        }
    }
    const int64_t span = first <= last ? last - first : 0;
    const char* format = span < 120 ? "%H:%M:%S" : span < 2 * 86400 ? "%m-%d %H:%M" : "%Y-%m-%d";
    const int64_t unit = span < 120 ? 1 : span < 2 * 86400 ? 60 : 86400;
    const int64_t step = std::max<int64_t>(1, (span / 6 + unit - 1) / unit) * unit;
    // The dates are slanted so that no two touch; the margin takes the first
    // one's overhang.
    s += "set border 3\n"
         "set lmargin 17\n"
         "set xdata time\n"
         "set timefmt '%Y-%m-%dT%H:%M:%SZ'\n"
         "set format x '" + std::string(format) + "'\n"
         "set xtics " + std::to_string(step) + " rotate by 30 right nomirror\n"
         "set ytics nomirror\n"
         "set offsets graph 0.02, graph 0.02, 0, 0\n"
         "set yrange [0:*]\n"
         "set xlabel 'Date of the invocation (UTC)'\n";
    s += "set ylabel 'Median time (s)'\n";
    std::string plot;
    for (size_t i = 0; i < chart.series.size(); ++i) {
        if (chart.series[i].points.empty()) continue;
        const std::string block = "$threads" + std::to_string(chart.series[i].threads);
        s += block + " << EOD\n";
        for (const auto& [date, seconds] : chart.series[i].points) s += OneLine(date) + " " + Number(seconds) + "\n";
        s += "EOD\n";
        plot += (plot.empty() ? "plot " : ", \\\n     ") + block + " using 1:2 with linespoints pt 7 ps 0.8 lw 1.5 title " +
                Quoted(ThreadCountText(chart.series[i].threads));
    }
    return s + plot + "\n";
}

std::string PlotSweep(const std::string& svgPath, const SweepChart& chart, const std::string& gnuplot) {
    if (SpeedupRows(chart).empty()) {
        return ChartFailure(svgPath, "the sweep has no finished run on 1 thread to measure the speedup against");
    }
    return Plot(svgPath, SweepScript(chart, svgPath), gnuplot);
}

std::string PlotHistory(const std::string& svgPath, const HistoryChart& chart, const std::string& gnuplot) {
    const bool any = std::any_of(chart.series.begin(), chart.series.end(),
                                 [](const HistorySeries& series) { return !series.points.empty(); });
    if (!any) return ChartFailure(svgPath, "no stored invocation has a finished run to draw");
    return Plot(svgPath, HistoryScript(chart, svgPath), gnuplot);
}
