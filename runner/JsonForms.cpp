#include "runner/JsonForms.h"

#include <cmath>
#include <limits>
#include <optional>

namespace {

template <class Json>
Json ContextJson(const RunContext& c) {
    return {
        {"version", c.version},
        {"cpu", c.cpu},
        {"logical_processors", c.logicalProcessors},
        {"os", c.os},
        {"build", {{"compiler", c.compiler}, {"build_type", c.buildType}, {"flags", c.flags}, {"bits", c.bits}}},
        {"date", c.date},
    };
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
void ReadContext(const Json& j, RunContext& c) {
    c = RunContext{};
    if (!j.is_object()) return;
    c.version = TextOr(j, "version");
    c.cpu = TextOr(j, "cpu");
    c.logicalProcessors = NumberOr<uint32_t>(j, "logical_processors");
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
}

void to_json(nlohmann::json& j, const RunRecord& r) {
    j = {{"task", r.taskIndex},       {"threads", r.threads},   {"prime_text", r.primeText},
         {"time_text", r.timeText},   {"progressed", r.progressed}, {"index", r.index},
         {"prime", r.prime},          {"seconds", r.seconds},   {"status", RunStatusName(r.status)},
         {"fault", r.fault},          {"verdict", r.verdict}};
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
}
