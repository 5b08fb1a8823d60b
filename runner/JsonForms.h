// The JSON forms of what the reports carry, defined once with nlohmann's
// to_json and from_json and used for writing and for reading: the context
// block, a setting's result row, and a run (as ranks of a fleet send theirs).
#pragma once

#include <nlohmann/json.hpp>

#include "runner/RunContext.h"
#include "runner/RunRecord.h"

// {"version", "cpu", "logical_processors", "os", "build": {"compiler",
// "build_type", "flags", "bits"}, "date"}. Reading takes what it finds: a
// field that is missing, of another type, or a number that is not whole or
// out of its field's range is left empty, 0 (reports of every version still
// load).
void to_json(nlohmann::json& j, const RunContext& context);
void to_json(nlohmann::ordered_json& j, const RunContext& context);
void from_json(const nlohmann::json& j, RunContext& context);
void from_json(const nlohmann::ordered_json& j, RunContext& context);

// A report's row of a setting: the grid's four cells, the thread count and
// task size, the seconds (fastest, median, every run), speedup and
// efficiency, status, fault (only when there is one) and verdict.
void to_json(nlohmann::ordered_json& j, const SettingResult& result);

// A whole run record, every field; reading checks every one is there.
void to_json(nlohmann::json& j, const RunRecord& run);
void from_json(const nlohmann::json& j, RunRecord& run);
