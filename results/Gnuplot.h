// Drawing a chart with gnuplot: GnuplotPosix.cpp where programs can be started,
// GnuplotUnavailable.cpp in the Windows build, chosen by CMake.
#pragma once

#include <string>

// Runs `gnuplot` on `script`, which draws into svgPath. Returns an empty
// string, or one line naming the file and the reason it could not be drawn;
// when gnuplot cannot be found, the line says how to install it. A chart
// half drawn is removed.
std::string RunGnuplot(const std::string& gnuplot, const std::string& script, const std::string& svgPath);

// "Could not draw "FILE": REASON"
std::string ChartFailure(const std::string& svgPath, const std::string& reason);
