// Charts as SVG files, drawn by gnuplot (its svg terminal) from a script the
// runner writes: the speedup of a sweep, and the median time of a setting
// over the stored invocations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runner/RunContext.h"
#include "runner/RunRecord.h"

// The finished runs of one thread count of a sweep.
struct SweepChartPoint {
    uint16_t threads = 0;
    std::vector<double> runSeconds;
};

struct SweepChart {
    std::string task;   // "1M"
    std::string cpu;
    uint32_t logicalProcessors = 0;
    std::vector<SweepChartPoint> points;  // in thread order
};

// The finished runs of a sweep, by thread count.
SweepChart SweepChartOf(const std::vector<RunRecord>& runs, const RunContext& context);

// Median seconds of one thread count of a task, one value per invocation.
struct HistorySeries {
    uint16_t threads = 0;
    std::vector<std::pair<std::string, double>> points;  // UTC date "2026-01-02T03:04:05Z", median seconds; oldest first
};

struct HistoryChart {
    std::string task;
    std::string cpu;  // empty when the invocations ran on different CPUs
    std::vector<HistorySeries> series;
};

// The gnuplot scripts, data included.
std::string SweepScript(const SweepChart& chart, const std::string& svgPath);
std::string HistoryScript(const HistoryChart& chart, const std::string& svgPath);

// False in a build that cannot run gnuplot (the Windows cross build).
bool ChartsAvailable();

// Draw the chart into svgPath. Return an empty string, or one line naming the
// file and the reason it could not be drawn; when gnuplot cannot be found the
// line says how to install it. `gnuplot` is the program to run.
std::string PlotSweep(const std::string& svgPath, const SweepChart& chart, const std::string& gnuplot = "gnuplot");
std::string PlotHistory(const std::string& svgPath, const HistoryChart& chart, const std::string& gnuplot = "gnuplot");
