// The machine's sensors and counters as a run's sampler reads them: the
// processors' clock, temperatures, thermal throttling, the processor time of
// the whole machine and of this process, the hypervisor's steal time and
// energy. SensorsLinux.cpp reads sysfs and procfs, SensorsWindows.cpp asks the
// system; CMake chooses. What a reader cannot read it says why, once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// An energy counter that wraps: RAPL's energy_uj, back to 0 past `range`
// (max_energy_range_uj).
struct EnergyCounter {
    uint64_t microjoules = 0;
    uint64_t range = 0;  // 0: not known; a counter that went back is then not counted
};

// One look at the machine. Gauges (clock, temperature) are their value now;
// counters count from an unknown start, so only their differences mean
// something. Each is empty where it cannot be read.
struct MachineSample {
    double at = 0.0;                      // seconds of a monotonic clock
    std::optional<double> clockMhz;       // the mean current clock of the processors read
    std::optional<double> temperatureC;   // the hottest sensor of the processors
    std::string hottest;                  // its label ("Package id 0", "Core 3", "Tctl", "x86_pkg_temp")
    std::optional<uint64_t> throttleCount;  // thermal throttle events, every core's and package's counter summed
    // Processor time of the whole machine in seconds, summed over its
    // processors: busy (user, system, interrupts), in all (busy, idle, I/O
    // wait, steal), and taken by the hypervisor (steal); and this process's own.
    std::optional<double> busySeconds, allSeconds, stealSeconds, ownSeconds;
    std::vector<EnergyCounter> energy;    // one per package domain; empty: not read
};

// Where each sensor is read from ("cpufreq", "/proc/stat") or, when it is
// not, "not available here: " and why.
struct SensorSources {
    std::string clock;
    std::string clockOffered;
    std::string temperature;
    std::string throttle;
    std::string load;
    std::string steal;
    std::string energy;
    // The folder VANTREL_FSROOT names, whose sys/ and proc/ were read in
    // place of this machine's; empty for this machine.
    std::string root;
    bool operator==(const SensorSources&) const = default;
};

// "not available here: " and the reason, and whether a source is one.
std::string NotAvailable(const std::string& reason);
bool IsNotAvailable(const std::string& source);

class SensorReader {
public:
    virtual ~SensorReader() = default;
    virtual MachineSample Read() = 0;
    virtual const SensorSources& Sources() const = 0;
    // The highest clock the machine offers its processors; empty when not known.
    virtual std::optional<double> OfferedClockMhz() const = 0;
};

// The reader of this machine's sensors for the processors `processors`
// (the system's numbers; empty: every one). On Linux the environment
// variable VANTREL_FSROOT names a folder read in place of / (its sys/ and
// proc/), describing another machine, as hwloc's HWLOC_FSROOT does.
std::unique_ptr<SensorReader> OpenSensorReader(const std::vector<uint32_t>& processors);
