// The runner's report: one row per setting, as an aligned table for people or
// as CSV or JSON for tools. Writers write to the stream handed to them.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "engine/Text.h"
#include "runner/ReportFormat.h"
#include "runner/RunContext.h"
#include "runner/RunRecord.h"
#include "runner/Verdict.h"

class ReportWriter {
public:
    virtual ~ReportWriter() = default;
    virtual void Begin(const RunContext& context) = 0;
    // A setting's row, written (and flushed) as soon as it is known, except
    // for JSON, which is one document written by End.
    virtual void Row(const SettingResult& result) = 0;
    virtual void End(const Verdict& verdict) = 0;
};

// sweep adds the speedup and efficiency columns to the table, repeat > 1 the
// median; CSV and JSON always carry every field. Each row's verdict is a CSV
// column and a JSON field; the table ends with a line for each of them. Then
// the invocation's verdict: the table's last line, CSV's "# verdict: " line,
// JSON's "pass" and "verdict" after "results".
std::unique_ptr<ReportWriter> MakeReportWriter(ReportFormat format, std::ostream& out, bool sweep, int repeat);

// The context block of every report: the table's first line and CSV's
// comment lines ("# cpu: ..."); JSON's "context" object is the context's
// JSON form (runner/JsonForms.h).
std::string ContextLine(const RunContext& context);
void WriteCsvContext(std::ostream& out, const RunContext& context);

// The machine's columns of a CSV row, after the others: their names
// (",clock_min_mhz,...") and a run's or a setting's values, empty where not
// read; `primes`: the task's N.
extern const char* const kMachineCsvColumns;
std::string MachineCsv(const SampleSummary& machine, uint32_t primes);
