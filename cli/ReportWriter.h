// The runner's report: one row per setting, as an aligned table for people or
// as CSV or JSON for tools. Writers write to the stream handed to them.
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <ostream>
#include <string>

#include "cli/CliOptions.h"
#include "cli/RunContext.h"
#include "cli/RunRecord.h"

class ReportWriter {
public:
    virtual ~ReportWriter() = default;
    virtual void Begin(const RunContext& context) = 0;
    // A setting's row, written (and flushed) as soon as it is known, except
    // for JSON, which is one document written by End.
    virtual void Row(const SettingResult& result) = 0;
    virtual void End() = 0;
};

// sweep adds the speedup and efficiency columns to the table, repeat > 1 the
// median; CSV and JSON always carry every field. Each row's verdict is a CSV
// column and a JSON field; the table ends with a line for each verdict.
std::unique_ptr<ReportWriter> MakeReportWriter(ReportFormat format, std::ostream& out, bool sweep, int repeat);

// The context block of every report: the table's first line, CSV's comment
// lines ("# cpu: ..."), JSON's "context" object.
std::string ContextLine(const RunContext& context);
void WriteCsvContext(std::ostream& out, const RunContext& context);
nlohmann::ordered_json JsonContext(const RunContext& context);

// Seconds in full precision: the shortest text that reads back as the same double.
std::string FullPrecision(double value);

// One CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);
