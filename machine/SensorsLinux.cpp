// The sensors on Linux, read from sysfs and procfs: cpufreq (else
// /proc/cpuinfo) for the clock, the hwmon drivers of the processors (else
// their thermal zones) for temperatures, the thermal_throttle counters,
// /proc/stat for the machine's processor time and steal, and powercap's RAPL
// zones for energy. The files are found once; each sample only reads them.
//
// lm-sensors' libsensors reads the same hwmon files with its knowledge of
// the chips, but reads only the real /sys: it cannot be pointed at a root
// that describes another machine, and the processors' own drivers
// (coretemp, k10temp) need none of its chip knowledge.
#include "machine/SensorsLinux.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <set>
#include <utility>

#include "engine/Text.h"

namespace fs = std::filesystem;

namespace {

// A small file's text (sysfs, procfs), or empty with `error` set to errno.
std::string ReadSmall(const fs::path& file, int* error = nullptr, size_t limit = size_t(1) << 20) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return {};
    }
    std::string text;
    char buffer[4096];
    while (text.size() < limit) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            if (error != nullptr) *error = errno;
            text.clear();
            break;
        }
        if (got == 0) break;
        text.append(buffer, size_t(got));
    }
    close(fd);
    return text;
}

std::optional<uint64_t> NumberIn(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) return std::nullopt;
    uint64_t value = 0;
    const auto [end, problem] = std::from_chars(text.data() + first, text.data() + text.size(), value);
    if (problem != std::errc() || end == text.data() + first) return std::nullopt;
    return value;
}

std::optional<uint64_t> ReadNumber(const fs::path& file, int* error = nullptr) {
    return NumberIn(ReadSmall(file, error, 64));
}

// A signed reading: temperatures go below 0 °C in the cold.
std::optional<int64_t> ReadSigned(const fs::path& file) {
    const std::string text = ReadSmall(file, nullptr, 64);
    const size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) return std::nullopt;
    int64_t value = 0;
    const auto [end, problem] = std::from_chars(text.data() + first, text.data() + text.size(), value);
    if (problem != std::errc() || end == text.data() + first) return std::nullopt;
    return value;
}

std::vector<fs::path> Entries(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// "cpu12" -> 12; nothing for other names.
std::optional<uint32_t> NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    uint32_t value = 0;
    const char* start = name.data() + prefix.size();
    const auto [end, problem] = std::from_chars(start, name.data() + name.size(), value);
    if (problem != std::errc() || end != name.data() + name.size()) return std::nullopt;
    return value;
}

// The processors' mean clock in /proc/cpuinfo's "cpu MHz" lines, of those in
// `wanted` (empty: all).
std::optional<double> CpuinfoMhz(const std::string& cpuinfo, const std::set<uint32_t>& wanted) {
    double sum = 0.0;
    int count = 0;
    int64_t processor = -1;  // the "processor" line above, -1 before the first
    size_t start = 0;
    while (start < cpuinfo.size()) {
        size_t end = cpuinfo.find('\n', start);
        if (end == std::string::npos) end = cpuinfo.size();
        const std::string line = cpuinfo.substr(start, end - start);
        start = end + 1;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = Trimmed(line.substr(0, colon));
        const std::string value = Trimmed(line.substr(colon + 1));
        if (key == "processor") {
            processor = int64_t(NumberIn(value).value_or(uint64_t(-1) >> 1));
        } else if (key == "cpu MHz" && (wanted.empty() || (processor >= 0 && wanted.count(uint32_t(processor)) > 0))) {
            char* parsed = nullptr;
            const double mhz = std::strtod(value.c_str(), &parsed);
            if (parsed != value.c_str() && mhz > 0.0) {
                sum += mhz;
                ++count;
            }
        }
    }
    if (count == 0) return std::nullopt;
    return sum / count;
}

// The hwmon drivers of processors: Intel's and AMD's, and the thermal
// drivers of ARM boards.
bool ProcessorDriver(const std::string& name) {
    static const std::set<std::string> drivers = {"coretemp",    "k10temp",     "zenpower",    "cpu_thermal",
                                                  "cpu-thermal", "soc_thermal", "soc-thermal", "cpu0_thermal",
                                                  "scpi_sensors"};
    return drivers.count(name) > 0;
}

// A thermal zone of the processors: "x86_pkg_temp", "cpu-thermal", "soc_thermal", ...
bool ProcessorZone(std::string type) {
    for (char& c : type) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word : {"cpu", "pkg", "soc", "core"}) {
        if (type.find(word) != std::string::npos) return true;
    }
    return false;
}

// A label as the reports can show it: printable ASCII, one line.
std::string Label(std::string text) {
    text = Trimmed(text);
    for (char& c : text) {
        if (c < 0x20 || c > 0x7E) c = '?';
    }
    return text;
}

double Monotonic() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

class LinuxSensors final : public SensorReader {
public:
    LinuxSensors(fs::path root_, const std::vector<uint32_t>& wanted, bool foreign) : root(std::move(root_)) {
        if (foreign) sources.root = root.string();
        cpus = root / "sys/devices/system/cpu";
        processors = wanted;
        if (processors.empty()) {
            for (const fs::path& entry : Entries(cpus)) {
                if (const auto number = NumberAfter(entry.filename().string(), "cpu")) processors.push_back(*number);
            }
        }
        wantedSet.insert(wanted.begin(), wanted.end());
        FindClock();
        FindTemperatures();
        FindThrottle();
        FindLoad();
        FindEnergy();
    }

    const SensorSources& Sources() const override { return sources; }
    std::optional<double> OfferedClockMhz() const override { return offered; }

    MachineSample Read() override {
        MachineSample sample;
        sample.at = Monotonic();
        ReadClock(sample);
        ReadTemperatures(sample);
        ReadThrottle(sample);
        ReadLoad(sample);
        ReadEnergy(sample);
        return sample;
    }

private:
    fs::path Cpu(uint32_t processor) const { return cpus / ("cpu" + std::to_string(processor)); }

    void FindClock() {
        for (uint32_t processor : processors) {
            const fs::path folder = Cpu(processor) / "cpufreq";
            if (!ReadNumber(folder / "scaling_cur_freq")) continue;
            clockFiles.push_back(folder / "scaling_cur_freq");
            if (const auto khz = ReadNumber(folder / "cpuinfo_max_freq")) {
                offered = std::max(offered.value_or(0.0), double(*khz) / 1000.0);
            }
        }
        if (!clockFiles.empty()) {
            sources.clock = "cpufreq (scaling_cur_freq)";
            sources.clockOffered = offered ? "cpufreq (cpuinfo_max_freq)" : NotAvailable("cpufreq gives no cpuinfo_max_freq");
            return;
        }
        if (CpuinfoMhz(ReadSmall(root / "proc/cpuinfo"), wantedSet)) {
            clockFromCpuinfo = true;
            sources.clock = "/proc/cpuinfo (cpu MHz)";
            sources.clockOffered = NotAvailable("no cpufreq, and /proc/cpuinfo gives the current clock only");
            return;
        }
        sources.clock = NotAvailable("no cpufreq and no cpu MHz in /proc/cpuinfo");
        sources.clockOffered = sources.clock;
    }

    void ReadClock(MachineSample& sample) {
        if (clockFromCpuinfo) {
            sample.clockMhz = CpuinfoMhz(ReadSmall(root / "proc/cpuinfo"), wantedSet);
            return;
        }
        double sum = 0.0;
        int count = 0;
        for (const fs::path& file : clockFiles) {
            if (const auto khz = ReadNumber(file)) {
                sum += double(*khz) / 1000.0;
                ++count;
            }
        }
        if (count > 0) sample.clockMhz = sum / count;
    }

    void FindTemperatures() {
        std::set<std::string> drivers;
        for (const fs::path& device : Entries(root / "sys/class/hwmon")) {
            const std::string name = Label(ReadSmall(device / "name"));
            if (!ProcessorDriver(name)) continue;
            for (const fs::path& file : Entries(device)) {
                const std::string entry = file.filename().string();
                if (entry.compare(0, 4, "temp") != 0 || entry.size() < 11 || entry.compare(entry.size() - 6, 6, "_input") != 0) {
                    continue;
                }
                if (!ReadSigned(file)) continue;
                std::string label = Label(ReadSmall(device / (entry.substr(0, entry.size() - 6) + "_label")));
                temperatures.push_back({file, label.empty() ? name : label});
                drivers.insert(name);
            }
        }
        if (!temperatures.empty()) {
            std::string names;
            for (const std::string& name : drivers) names += (names.empty() ? "" : ", ") + name;
            sources.temperature = "hwmon (" + names + ")";
            return;
        }
        for (const fs::path& zone : Entries(root / "sys/class/thermal")) {
            if (zone.filename().string().compare(0, 12, "thermal_zone") != 0) continue;
            const std::string type = Label(ReadSmall(zone / "type"));
            if (!ProcessorZone(type) || !ReadSigned(zone / "temp")) continue;
            temperatures.push_back({zone / "temp", type});
        }
        if (!temperatures.empty()) {
            sources.temperature = "thermal zones";
            return;
        }
        sources.temperature = NotAvailable("no hwmon sensor of the processors and no thermal zone of them");
    }

    void ReadTemperatures(MachineSample& sample) {
        for (const Sensor& sensor : temperatures) {
            const auto millidegrees = ReadSigned(sensor.file);
            if (!millidegrees) continue;
            const double celsius = double(*millidegrees) / 1000.0;
            if (!sample.temperatureC || celsius > *sample.temperatureC) {
                sample.temperatureC = celsius;
                sample.hottest = sensor.label;
            }
        }
    }

    // A core's counter and a package's counter show on each of its
    // processors: each is counted once.
    void FindThrottle() {
        std::set<std::pair<std::string, std::string>> cores;
        std::set<std::string> packages;
        for (uint32_t processor : processors) {
            const fs::path folder = Cpu(processor) / "thermal_throttle";
            const std::string package = Trimmed(ReadSmall(Cpu(processor) / "topology/physical_package_id"));
            const std::string core = Trimmed(ReadSmall(Cpu(processor) / "topology/core_id"));
            const bool knownCore = !package.empty() && !core.empty();
            if (ReadNumber(folder / "core_throttle_count") &&
                (!knownCore || cores.insert({package, core}).second)) {
                throttleFiles.push_back(folder / "core_throttle_count");
            }
            if (ReadNumber(folder / "package_throttle_count") && (package.empty() || packages.insert(package).second)) {
                throttleFiles.push_back(folder / "package_throttle_count");
            }
        }
        sources.throttle = throttleFiles.empty() ? NotAvailable("no thermal_throttle counters in sysfs")
                                                 : "sysfs (thermal_throttle)";
    }

    void ReadThrottle(MachineSample& sample) {
        if (throttleFiles.empty()) return;
        uint64_t total = 0;
        for (const fs::path& file : throttleFiles) {
            const auto count = ReadNumber(file);
            if (!count) return;
            total += *count;
        }
        sample.throttleCount = total;
    }

    // "cpu  user nice system idle iowait irq softirq steal guest guest_nice",
    // in clock ticks; guest time is counted in user already.
    std::optional<std::vector<uint64_t>> StatLine() const {
        const std::string text = ReadSmall(root / "proc/stat", nullptr, 4096);
        if (text.compare(0, 4, "cpu ") != 0) return std::nullopt;
        std::vector<uint64_t> fields;
        const char* at = text.data() + 4;
        const char* end = text.data() + std::min(text.find('\n'), text.size());
        while (at < end) {
            while (at < end && *at == ' ') ++at;
            uint64_t value = 0;
            const auto [next, problem] = std::from_chars(at, end, value);
            if (problem != std::errc()) break;
            fields.push_back(value);
            at = next;
        }
        if (fields.size() < 4) return std::nullopt;
        return fields;
    }

    void FindLoad() {
        tick = 1.0 / double(std::max(sysconf(_SC_CLK_TCK), 1L));
        const auto fields = StatLine();
        stat = fields.has_value();
        sources.load = stat ? "/proc/stat and getrusage" : NotAvailable("no /proc/stat");
        sources.steal = !stat ? NotAvailable("no /proc/stat")
                        : fields->size() >= 8 ? "/proc/stat"
                                              : NotAvailable("/proc/stat has no steal time");
    }

    void ReadLoad(MachineSample& sample) {
        if (!stat) return;
        const auto fields = StatLine();
        if (!fields) return;
        const std::vector<uint64_t>& f = *fields;
        auto field = [&f](size_t i) { return i < f.size() ? f[i] : 0; };
        const uint64_t busy = field(0) + field(1) + field(2) + field(5) + field(6);
        const uint64_t all = busy + field(3) + field(4) + field(7);
        sample.busySeconds = double(busy) * tick;
        sample.allSeconds = double(all) * tick;
        if (f.size() >= 8) sample.stealSeconds = double(field(7)) * tick;
        rusage usage{};
        if (getrusage(RUSAGE_SELF, &usage) == 0) {
            sample.ownSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                                double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        }
    }

    // The package domains, "intel-rapl:0", "intel-rapl:1" (the kernel names
    // AMD's so too); their subzones (cores, DRAM) are parts of them.
    void FindEnergy() {
        int refused = 0;
        int zonesSeen = 0;
        for (const fs::path& zone : Entries(root / "sys/class/powercap")) {
            const std::string name = zone.filename().string();
            const size_t colon = name.find(':');
            if (colon == std::string::npos || name.find(':', colon + 1) != std::string::npos ||
                name.find("rapl") == std::string::npos) {
                continue;
            }
            ++zonesSeen;
            int error = 0;
            if (!ReadNumber(zone / "energy_uj", &error)) {
                if (error == EACCES || error == EPERM) ++refused;
                continue;
            }
            zones.push_back({zone / "energy_uj", ReadNumber(zone / "max_energy_range_uj").value_or(0)});
        }
        if (!zones.empty()) {
            sources.energy = "powercap RAPL (" + Plural(zones.size(), "package domain", "package domains") + ")";
        } else if (refused > 0) {
            sources.energy = NotAvailable("powercap's energy_uj can be read by root only (Linux 5.10 and later)");
        } else if (zonesSeen > 0) {
            sources.energy = NotAvailable("powercap's energy_uj could not be read");
        } else {
            sources.energy = NotAvailable("no powercap RAPL zone");
        }
    }

    void ReadEnergy(MachineSample& sample) {
        for (const Zone& zone : zones) {
            const auto microjoules = ReadNumber(zone.file);
            if (!microjoules) {
                sample.energy.clear();
                return;
            }
            sample.energy.push_back({*microjoules, zone.range});
        }
    }

    struct Sensor {
        fs::path file;
        std::string label;
    };
    struct Zone {
        fs::path file;
        uint64_t range = 0;
    };

    fs::path root;
    fs::path cpus;
    std::vector<uint32_t> processors;
    std::set<uint32_t> wantedSet;
    SensorSources sources;
    std::vector<fs::path> clockFiles;
    bool clockFromCpuinfo = false;
    std::optional<double> offered;
    std::vector<Sensor> temperatures;
    std::vector<fs::path> throttleFiles;
    bool stat = false;
    double tick = 0.01;
    std::vector<Zone> zones;
};

}  // namespace

std::unique_ptr<SensorReader> OpenSensorReaderAt(const fs::path& root, const std::vector<uint32_t>& processors,
                                                 bool foreign) {
    return std::make_unique<LinuxSensors>(root, processors, foreign);
}

std::unique_ptr<SensorReader> OpenSensorReader(const std::vector<uint32_t>& processors) {
    const char* given = std::getenv("VANTREL_FSROOT");
    if (given != nullptr && *given != '\0' && std::string(given) != "/") {
        return OpenSensorReaderAt(given, processors, true);
    }
    return OpenSensorReaderAt("/", processors, false);
}
