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

// The cores of each kind of a hybrid machine: [{"kind", "cores",
// "processors"}]; reading takes the entries it can.
nlohmann::json CpuKindsJson(const std::vector<CpuKind>& kinds);
std::vector<CpuKind> CpuKindsOf(const nlohmann::json& j);

// What the sensors are read from: {"clock", "clock_offered", "temperature",
// "throttle", "load", "steal", "energy", "root"}, each a source or "not
// available here: ..."; root null for this machine.
nlohmann::json SensorsJson(const SensorSources& sources);
SensorSources SensorsOf(const nlohmann::json& j);

// A run's or a setting's samples: {"clock_min_mhz", "clock_median_mhz",
// "clock_max_mhz", "clock_offered_mhz", "temperature_max_c", "hottest",
// "throttle_events", "other_load", "steal", "energy_joules",
// "primes_per_joule"}, null where not read; `primes`: the task's N.
nlohmann::ordered_json MachineJson(const SampleSummary& summary, uint32_t primes);
SampleSummary MachineOf(const nlohmann::json& j);

// A report's row of a setting: the grid's four cells, the thread count and
// task size, the seconds (fastest, median, every run), speedup and
// efficiency, status, fault (only when there is one), verdict and the
// machine's samples over its runs.
void to_json(nlohmann::ordered_json& j, const SettingResult& result);

// A whole run record, every field; reading checks every one is there.
void to_json(nlohmann::json& j, const RunRecord& run);
void from_json(const nlohmann::json& j, RunRecord& run);
