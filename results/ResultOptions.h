// The options of keeping and comparing results: --db, --label and --plot of
// a run, and the option tables of history and compare. A build without
// SQLite or gnuplot refuses --db and --plot before anything runs, rather
// than after a sweep of minutes.
#pragma once

#include <vector>

#include "runner/OptionTable.h"

// --db FILE and --label TEXT of a run, in the order the help shows them.
std::vector<OptionDef> StoreOptionDefs();

// --plot FILE.svg of a sweep.
OptionDef SweepChartOption();

// A file name gnuplot can be given for a chart: not empty, no control
// characters (a line break would end its script's line).
OptionCheck ChartFileName();

// The subcommands' own tables.
OptionTable HistoryOptionTable();
OptionTable CompareOptionTable();

// compare's refusal when BASE or NEW is missing.
extern const char* const kCompareOperands;
