// Charts in a build that cannot start programs (the Windows build): none is drawn.
#include "results/Gnuplot.h"

#include "engine/Text.h"

bool ChartsAvailable() { return false; }

std::string RunGnuplot(const std::string&, const std::string&, const std::string& svgPath) {
    return ChartFailure(svgPath, "this build of vantrel-cli cannot run gnuplot");
}
