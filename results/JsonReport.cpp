#include "results/JsonReport.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <utility>

#include "export/TextEncoding.h"
#include "runner/JsonForms.h"
#include "runner/SaveFileName.h"

namespace {

using Json = nlohmann::json;

const char* const kNoResults = "the file is not a JSON report of vantrel-cli (no \"results\" list)";
const char* const kBadResult =
    "the file is not a JSON report of vantrel-cli (a result without task, threads or run_seconds)";

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    return text;
}

ReportError TooLarge(uint64_t bytes) {
    return ReportError("the file holds " + (bytes > kMaxReportBytes ? Megabytes(bytes) : "more") +
                       ", more than any report of vantrel-cli (valid: at most " + Megabytes(kMaxReportBytes) + ")");
}

// The whole file, refused before it is read when it is larger than a report
// can be, or when it is no regular file: opening a FIFO waits for a writer
// that may never come, and a device may never end.
std::string ReadCapped(const std::filesystem::path& file, const std::atomic<bool>* stop) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file, error);
    if (status.type() == std::filesystem::file_type::not_found) throw ReportError("no such file");
    if (const std::string why = NotARegularFile(file); !why.empty()) throw ReportError(why + ", not a JSON report");
    if (std::filesystem::is_regular_file(status)) {
        const uintmax_t size = std::filesystem::file_size(file, error);
        if (!error && size > kMaxReportBytes) throw TooLarge(size);
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ReportError("the file cannot be opened" + (errno != 0 ? ": " + SystemReason(errno) : std::string()));
    std::string bytes;
    std::vector<char> chunk(size_t(1) << 16);
    while (in.read(chunk.data(), std::streamsize(chunk.size())) || in.gcount() > 0) {
        bytes.append(chunk.data(), size_t(in.gcount()));
        if (bytes.size() > kMaxReportBytes) throw TooLarge(bytes.size());
        if (stop != nullptr && stop->load()) throw ReadStopped();
    }
    // The stream keeps the system's reason in errno when a read fails.
    if (in.bad()) throw ReportError("the file cannot be read" + (errno != 0 ? ": " + SystemReason(errno) : std::string()));
    return bytes;
}

// What an open object or array of the report is to the reader; anything
// else is skipped, only counted for its depth.
enum class Part { Root, Context, Build, Sensors, Results, Result, Seconds, Machine };

// The fields read of a context's "sensors" and of a result's "machine": a
// crafted report may hold millions of others.
constexpr const char* kSensorFields[] = {"clock", "clock_offered", "temperature", "throttle",
                                         "load",  "steal",         "energy",      "root"};
constexpr const char* kMachineFields[] = {"clock_min_mhz", "clock_median_mhz",  "clock_max_mhz", "clock_offered_mhz",
                                          "temperature_max_c", "hottest",       "throttle_events", "other_load",
                                          "steal",         "energy_joules"};

// Whether a result has had each field it needs, of the right type.
struct ResultFields {
    bool task = false;
    bool threads = false;
    bool seconds = false;
};

// nlohmann's SAX interface: one call per token, false to stop at the first fault.
class ReportSax {
public:
    const std::atomic<bool>* stop = nullptr;  // the parse ends when it turns true

    bool null() { return Scalar(Json(nullptr)); }
    bool boolean(bool value) { return Scalar(Json(value)); }
    bool number_integer(Json::number_integer_t value) { return Scalar(Json(value)); }
    bool number_unsigned(Json::number_unsigned_t value) { return Scalar(Json(value)); }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return Scalar(Json(value)); }
    bool string(Json::string_t& value) { return Scalar(Json(std::move(value))); }
    bool binary(Json::binary_t&) { return Scalar(Json(nullptr)); }
    bool start_object(size_t) { return Open(true); }
    bool start_array(size_t) { return Open(false); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool key(Json::string_t& name) {
        lastKey = std::move(name);
        // Every key, so that a stop signal ends even a large report's parse at once.
        return stop == nullptr || !stop->load();
    }
    bool parse_error(size_t, const std::string&, const nlohmann::detail::exception&) {
        return Stop("the file is not JSON");
    }

    // After the parse: the contents, or why there are none.
    ReportContents Finish(bool parsed) {
        if (!parsed) throw ReportError(failure.empty() ? "the file is not JSON" : failure);
        if (!sawResults) throw ReportError(kNoResults);
        ReportContents contents;
        contents.context = context.get<RunContext>();
        contents.results = std::move(results);
        return contents;
    }

private:
    static std::string TooMany(size_t most, const char* what) {
        char count[32];
        std::snprintf(count, sizeof count, "%zu", most);
        return "the file holds more than " + std::string(count) + " " + what +
               ", more than any report of vantrel-cli";
    }

    bool Stop(std::string why) {
        if (failure.empty()) failure = std::move(why);
        return false;
    }

    bool Enter(Part part) {
        open.push_back(part);
        return true;
    }

    bool Open(bool isObject) {
        if (open.size() + skipped >= kMaxReportDepth) {
            return Stop("the file nests its JSON more than " + std::to_string(kMaxReportDepth) +
                        " levels deep, unlike any report of vantrel-cli");
        }
        if (skipped > 0) {
            ++skipped;
            return true;
        }
        if (open.empty()) return isObject ? Enter(Part::Root) : Stop(kNoResults);
        switch (open.back()) {
            case Part::Root:
                if (lastKey == "results") {
                    if (isObject) return Stop(kNoResults);
                    sawResults = true;
                    results.clear();  // the last of two lists counts, as in a parsed document
                    return Enter(Part::Results);
                }
                if (lastKey == "context" && isObject) {
                    context = Json::object();
                    return Enter(Part::Context);
                }
                break;
            case Part::Context:
                if (lastKey == "build" && isObject) {
                    context["build"] = Json::object();
                    return Enter(Part::Build);
                }
                if (lastKey == "sensors" && isObject) {
                    context["sensors"] = Json::object();
                    return Enter(Part::Sensors);
                }
                break;
            case Part::Results:
                if (!isObject) return Stop(kBadResult);
                result = ReportResult{};
                fields = ResultFields{};
                return Enter(Part::Result);
            case Part::Result:
                if (lastKey == "run_seconds" && !isObject) {
                    result.seconds.clear();
                    secondsValid = true;
                    return Enter(Part::Seconds);
                }
                if (lastKey == "machine" && isObject) {
                    machine = Json::object();
                    return Enter(Part::Machine);
                }
                Field(Json(nullptr));  // a task, threads or run_seconds of another type
                break;
            case Part::Seconds: secondsValid = false; break;
            case Part::Build:
            case Part::Sensors:
            case Part::Machine: break;
        }
        ++skipped;
        return true;
    }

    bool Close() {
        if (skipped > 0) {
            --skipped;
            return true;
        }
        const Part part = open.back();
        open.pop_back();
        if (part == Part::Seconds) fields.seconds = secondsValid;
        if (part == Part::Machine) result.machine = MachineOf(machine);
        if (part == Part::Result) {
            if (!(fields.task && fields.threads && fields.seconds)) return Stop(kBadResult);
            if (results.size() == kMaxReportResults) return Stop(TooMany(kMaxReportResults, "results"));
            results.push_back(std::move(result));
        }
        return true;
    }

    bool Scalar(Json value) {
        if (stop != nullptr && stop->load()) return false;
        if (skipped > 0) return true;
        if (open.empty()) return Stop(kNoResults);
        switch (open.back()) {
            case Part::Root:
                if (lastKey == "results") return Stop(kNoResults);
                break;
            case Part::Context:
                // Only the fields of the context block: a crafted one may hold millions.
                for (const char* name : {"version", "cpu", "logical_processors", "usable_processors", "usable_reason",
                                         "shape", "packages", "numa_nodes", "cores", "pus_per_core", "topology_source",
                                         "bind", "os", "date"}) {
                    if (lastKey == name) context[lastKey] = std::move(value);
                }
                break;
            case Part::Build:
                for (const char* name : {"compiler", "build_type", "flags", "bits"}) {
                    if (lastKey == name) context["build"][lastKey] = std::move(value);
                }
                break;
            case Part::Sensors:
                for (const char* name : kSensorFields) {
                    if (lastKey == name) context["sensors"][lastKey] = std::move(value);
                }
                break;
            case Part::Machine:
                for (const char* name : kMachineFields) {
                    if (lastKey == name) machine[lastKey] = std::move(value);
                }
                break;
            case Part::Results: return Stop(kBadResult);
            case Part::Result: Field(std::move(value)); break;
            case Part::Seconds:
                if (value.is_number()) {
                    if (++runTimes > kMaxReportRunTimes) return Stop(TooMany(kMaxReportRunTimes, "run times"));
                    result.seconds.push_back(value.get<double>());
                } else {
                    secondsValid = false;
                }
                break;
        }
        return true;
    }

    // A field of a result; `value` is null for an object or array.
    void Field(Json value) {
        if (lastKey == "task") {
            fields.task = value.is_string();
            if (fields.task) result.task = value.get<std::string>();
        } else if (lastKey == "threads") {
            fields.threads = value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFF;
            if (fields.threads) result.threads = value.get<uint16_t>();
        } else if (lastKey == "run_seconds") {
            fields.seconds = false;
        } else if (lastKey == "status" && value.is_string()) {
            // A status this version does not know counts as not finished.
            result.status = RunStatusNamed(value.get<std::string>()).value_or(RunStatus::Failed);
        }
    }

    std::vector<Part> open;
    size_t skipped = 0;  // depth inside a skipped object or array
    std::string lastKey;
    std::string failure;
    bool sawResults = false;
    Json context;  // the context block's fields only
    std::vector<ReportResult> results;
    size_t runTimes = 0;
    ReportResult result;  // the one being read
    Json machine;         // its machine readings as read so far
    ResultFields fields;
    bool secondsValid = false;
};

}  // namespace

ReportContents ReadJsonReport(const std::filesystem::path& file, const std::atomic<bool>* stop) {
    const std::string bytes = ReadCapped(file, stop);
    ReportSax sax;
    sax.stop = stop;
    const bool parsed = Json::sax_parse(bytes, &sax);
    if (stop != nullptr && stop->load()) throw ReadStopped();
    return sax.Finish(parsed);
}
