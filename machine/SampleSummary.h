// What the machine did during one run, summed up from its samples. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "machine/Sensors.h"

// The samples of one run, summed up. Each is empty where it was not read.
struct SampleSummary {
    std::optional<double> clockMinMhz, clockMedianMhz, clockMaxMhz;  // over the samples taken during the run
    std::optional<double> clockOfferedMhz;  // the highest clock the machine offers
    std::optional<double> temperatureMaxC;  // the hottest sensor's highest reading
    std::string hottest;                    // that sensor's label
    std::optional<uint64_t> throttleEvents; // thermal throttle events during the run
    // Shares of the machine's processor time during the run (0 to 1): used
    // by other programs than this one, and taken by the hypervisor.
    std::optional<double> otherLoad, steal;
    std::optional<double> energyJoules;     // the package domains', counted across their wraparounds
    bool operator==(const SampleSummary&) const = default;
};

// Sums up samples as they come: the first is the run's start, whose gauges
// (taken before the workers ran) count only when no other sample was taken.
class SampleAccumulator {
public:
    explicit SampleAccumulator(std::optional<double> offeredMhz = std::nullopt) : offered(offeredMhz) {}
    void Add(const MachineSample& sample);
    SampleSummary Summary() const;

private:
    std::optional<double> offered;
    std::optional<MachineSample> first;
    std::optional<MachineSample> last;
    std::vector<double> clocks;
    std::optional<double> hottestC;
    std::string hottest;
    bool gaugesAfterStart = false;
    double energyMicrojoules = 0.0;
    bool energyCounted = false;
};

SampleSummary SummarizeSamples(const std::vector<MachineSample>& samples, std::optional<double> offeredMhz);
