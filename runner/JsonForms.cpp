#include "runner/JsonForms.h"

#include <cmath>
#include <limits>
#include <optional>

namespace {

template <class Json>
Json OptionalCount(const std::optional<uint32_t>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// The processors' fields, beside logical_processors in the context object.
template <class Json>
void AddProcessors(Json& j, const ProcessorContext& p) {
    // A context kept before the processors were (usable 0) states none of
    // them: unknown, not "none" or 0.
    const bool stated = p.usable > 0;
    j["usable_processors"] = stated ? Json(p.usable) : Json(nullptr);
    j["usable_reason"] = stated ? Json(p.reason) : Json(nullptr);
    j["shape"] = stated ? Json(p.shape) : Json(nullptr);
    j["packages"] = OptionalCount<Json>(p.packages);
    j["numa_nodes"] = OptionalCount<Json>(p.numaNodes);
    j["cores"] = OptionalCount<Json>(p.cores);
    j["pus_per_core"] = OptionalCount<Json>(p.pusPerCore);
    // Like the shape's other fields, none when the shape is unknown.
    j["cpu_kinds"] = p.cores ? Json(CpuKindsJson(p.kinds)) : Json(nullptr);
    j["topology_source"] = p.topologySource.empty() ? Json(nullptr) : Json(p.topologySource);
    j["bind"] = stated ? Json(p.bind) : Json(nullptr);
}

template <class Json>
Json SensorsObject(const SensorSources& s) {
    Json j = {{"clock", s.clock},       {"clock_offered", s.clockOffered}, {"temperature", s.temperature},
              {"throttle", s.throttle}, {"load", s.load},                  {"steal", s.steal},
              {"energy", s.energy}};
    j["root"] = s.root.empty() ? Json(nullptr) : Json(s.root);
    return j;
}

template <class Json>
Json ContextJson(const RunContext& c) {
    Json j = {{"version", c.version}, {"cpu", c.cpu}, {"logical_processors", c.logicalProcessors}};
    AddProcessors(j, c.processors);
    j["sensors"] = SensorsObject<Json>(c.sensors);
    j["os"] = c.os;
    j["build"] = {{"compiler", c.compiler}, {"build_type", c.buildType}, {"flags", c.flags}, {"bits", c.bits}};
    j["date"] = c.date;
    return j;
}

template <class Json>
std::string TextOr(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->template get<std::string>() : std::string();
}

// A whole number that `T` holds, else nothing: a report from elsewhere may
// say -5 or 1e20, and converting a float outside T's range is undefined.
template <class T, class Json>
T NumberOr(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) return T{};
    using Limits = std::numeric_limits<T>;
    if (it->is_number_unsigned()) {
        const auto value = it->template get<uint64_t>();
        return value <= uint64_t(Limits::max()) ? T(value) : T{};
    }
    if (it->is_number_integer()) {
        const auto value = it->template get<int64_t>();
        return value >= int64_t(Limits::min()) && value <= int64_t(Limits::max()) ? T(value) : T{};
    }
    if (it->is_number_float()) {
        const double value = it->template get<double>();
        const bool whole = std::isfinite(value) && value == std::trunc(value);
        return whole && value >= double(Limits::min()) && value <= double(Limits::max()) ? T(value) : T{};
    }
    return T{};
}

template <class Json>
std::optional<uint32_t> CountOr(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return NumberOr<uint32_t>(object, key);
}

template <class Json>
std::vector<CpuKind> KindsOf(const Json& j) {
    std::vector<CpuKind> kinds;
    if (!j.is_array()) return kinds;
    for (const auto& kind : j) {
        if (!kind.is_object()) continue;
        kinds.push_back({TextOr(kind, "kind"), NumberOr<uint32_t>(kind, "cores"), NumberOr<uint32_t>(kind, "processors")});
    }
    return kinds;
}

// A report written before its context named the processors leaves them
// unstated: usable 0, the shape empty.
template <class Json>
void ReadProcessors(const Json& j, ProcessorContext& p) {
    p.usable = NumberOr<uint32_t>(j, "usable_processors");
    p.reason = TextOr(j, "usable_reason");
    p.shape = TextOr(j, "shape");
    p.packages = CountOr(j, "packages");
    p.numaNodes = CountOr(j, "numa_nodes");
    p.cores = CountOr(j, "cores");
    p.pusPerCore = CountOr(j, "pus_per_core");
    if (const auto kinds = j.find("cpu_kinds"); kinds != j.end()) p.kinds = KindsOf(*kinds);
    p.topologySource = TextOr(j, "topology_source");
    if (const std::string bind = TextOr(j, "bind"); !bind.empty()) p.bind = bind;
}

template <class Json>
SensorSources ReadSensors(const Json& j) {
    SensorSources s;
    if (!j.is_object()) return s;
    s.clock = TextOr(j, "clock");
    s.clockOffered = TextOr(j, "clock_offered");
    s.temperature = TextOr(j, "temperature");
    s.throttle = TextOr(j, "throttle");
    s.load = TextOr(j, "load");
    s.steal = TextOr(j, "steal");
    s.energy = TextOr(j, "energy");
    s.root = TextOr(j, "root");
    return s;
}

template <class Json>
std::optional<double> RealOr(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    const double value = it->template get<double>();
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

template <class Json>
void ReadContext(const Json& j, RunContext& c) {
    c = RunContext{};
    if (!j.is_object()) return;
    c.version = TextOr(j, "version");
    c.cpu = TextOr(j, "cpu");
    c.logicalProcessors = NumberOr<uint32_t>(j, "logical_processors");
    ReadProcessors(j, c.processors);
    if (const auto sensors = j.find("sensors"); sensors != j.end()) c.sensors = ReadSensors(*sensors);
    c.os = TextOr(j, "os");
    c.date = TextOr(j, "date");
    if (const auto build = j.find("build"); build != j.end() && build->is_object()) {
        c.compiler = TextOr(*build, "compiler");
        c.buildType = TextOr(*build, "build_type");
        c.flags = TextOr(*build, "flags");
        c.bits = NumberOr<int>(*build, "bits");
    }
}

template <class Json>
Json Optional(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

nlohmann::json SensorsJson(const SensorSources& sources) { return SensorsObject<nlohmann::json>(sources); }

SensorSources SensorsOf(const nlohmann::json& j) { return ReadSensors(j); }

nlohmann::ordered_json MachineJson(const SampleSummary& m, uint32_t primes) {
    using Json = nlohmann::ordered_json;
    Json j;
    j["clock_min_mhz"] = Optional<Json>(m.clockMinMhz);
    j["clock_median_mhz"] = Optional<Json>(m.clockMedianMhz);
    j["clock_max_mhz"] = Optional<Json>(m.clockMaxMhz);
    j["clock_offered_mhz"] = Optional<Json>(m.clockOfferedMhz);
    j["temperature_max_c"] = Optional<Json>(m.temperatureMaxC);
    j["hottest"] = m.temperatureMaxC ? Json(m.hottest) : Json(nullptr);
    j["throttle_events"] = m.throttleEvents ? Json(*m.throttleEvents) : Json(nullptr);
    j["other_load"] = Optional<Json>(m.otherLoad);
    j["steal"] = Optional<Json>(m.steal);
    j["energy_joules"] = Optional<Json>(m.energyJoules);
    j["primes_per_joule"] = m.energyJoules && *m.energyJoules > 0.0 ? Json(double(primes) / *m.energyJoules) : Json(nullptr);
    return j;
}

SampleSummary MachineOf(const nlohmann::json& j) {
    SampleSummary m;
    if (!j.is_object()) return m;
    m.clockMinMhz = RealOr(j, "clock_min_mhz");
    m.clockMedianMhz = RealOr(j, "clock_median_mhz");
    m.clockMaxMhz = RealOr(j, "clock_max_mhz");
    m.clockOfferedMhz = RealOr(j, "clock_offered_mhz");
    m.temperatureMaxC = RealOr(j, "temperature_max_c");
    m.hottest = TextOr(j, "hottest");
    if (const auto events = j.find("throttle_events"); events != j.end() && events->is_number_unsigned()) {
        m.throttleEvents = events->get<uint64_t>();
    }
    m.otherLoad = RealOr(j, "other_load");
    m.steal = RealOr(j, "steal");
    m.energyJoules = RealOr(j, "energy_joules");
    return m;
}

nlohmann::json CpuKindsJson(const std::vector<CpuKind>& kinds) {
    nlohmann::json j = nlohmann::json::array();
    for (const CpuKind& kind : kinds) j.push_back({{"kind", kind.name}, {"cores", kind.cores}, {"processors", kind.processors}});
    return j;
}

std::vector<CpuKind> CpuKindsOf(const nlohmann::json& j) { return KindsOf(j); }

void to_json(nlohmann::json& j, const RunContext& context) { j = ContextJson<nlohmann::json>(context); }
void to_json(nlohmann::ordered_json& j, const RunContext& context) { j = ContextJson<nlohmann::ordered_json>(context); }
void from_json(const nlohmann::json& j, RunContext& context) { ReadContext(j, context); }
void from_json(const nlohmann::ordered_json& j, RunContext& context) { ReadContext(j, context); }

void to_json(nlohmann::ordered_json& j, const SettingResult& result) {
    using Json = nlohmann::ordered_json;
    const RunRecord& row = result.row;
    j = {
        {"task", row.task},
        {"thread_count", row.threadText},
        {"last_prime", row.primeText},
        {"time", row.timeText},
        {"threads", row.threads},
        {"beyond_cores", result.beyondCores},
        {"primes", row.targetCount},
    };
    j["seconds"] = Optional<Json>(RowSeconds(result));
    j["median_seconds"] = Optional<Json>(RowMedianSeconds(result));
    j["run_seconds"] = result.runSeconds;
    j["speedup"] = Optional<Json>(result.speedup);
    j["efficiency"] = Optional<Json>(result.efficiency);
    j["status"] = RunStatusName(row.status);
    if (!row.fault.empty()) j["fault"] = row.fault;
    j["verdict"] = row.verdict;
    j["machine"] = MachineJson(result.machine, row.targetCount);
}

void to_json(nlohmann::json& j, const RunRecord& r) {
    j = {{"task", r.taskIndex},       {"threads", r.threads},   {"prime_text", r.primeText},
         {"time_text", r.timeText},   {"progressed", r.progressed}, {"index", r.index},
         {"prime", r.prime},          {"seconds", r.seconds},   {"status", RunStatusName(r.status)},
         {"fault", r.fault},          {"verdict", r.verdict}};
    j["machine"] = MachineJson(r.machine, r.targetCount);
    j["processor"] = r.processor ? nlohmann::json(*r.processor) : nlohmann::json(nullptr);
}

void from_json(const nlohmann::json& j, RunRecord& run) {
    run = NewRunRecord(j.at("task").get<int>(), j.at("threads").get<uint16_t>());
    run.primeText = j.at("prime_text").get<std::string>();
    run.timeText = j.at("time_text").get<std::string>();
    run.progressed = j.at("progressed").get<bool>();
    run.index = j.at("index").get<uint32_t>();
    run.prime = j.at("prime").get<uint32_t>();
    run.seconds = j.at("seconds").get<double>();
    run.status = RunStatusNamed(j.at("status").get<std::string>()).value_or(RunStatus::Failed);
    run.fault = j.at("fault").get<std::string>();
    run.verdict = j.at("verdict").get<std::string>();
    run.machine = MachineOf(j.at("machine"));
    if (!j.at("processor").is_null()) run.processor = j.at("processor").get<uint32_t>();
}
