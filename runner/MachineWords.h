// What the machine did during the runs, in words: the sensors' readings as
// the reports show them, and the cause of a slowdown as far as the evidence
// goes. A reading that was not taken is "not available here" with its
// reason, never a zero.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "machine/SampleSummary.h"
#include "machine/Sensors.h"

// Past these, a share of the processors' time disturbs a run: other programs
// took it, or the hypervisor did (steal).
constexpr double kOtherLoadShare = 0.10;
constexpr double kStealShare = 0.05;

// "3.50 GHz", "96 °C", "41 %".
std::string ClockText(double mhz);
std::string TemperatureText(double celsius);
std::string ShareText(double share);

// The summaries of several runs (a setting's) as one: the lowest and highest
// clock and the median of the medians, the hottest reading, the throttle
// events added up, the largest shares, the median energy per run.
SampleSummary CombineSummaries(const std::vector<SampleSummary>& runs);

// Why a run or a setting went slower, as a row's note: "thermal throttling
// (12 throttle events); other programs used 41 % of the processors; the
// hypervisor took 9 % (steal)"; empty when nothing disturbed it.
std::string DisturbanceText(const SampleSummary& summary);

// The readings that tell runs apart, short, for lines that compare runs
// (history, compare): "median 3.50 GHz, max 96 °C, 214 throttle events,
// other load 41 %, steal 9 %" (the events and shares only past the
// thresholds above); empty when nothing was read.
std::string MachineBrief(const SampleSummary& summary);

// A stress's runs as the machine saw them, one small trace a run.
class MachineTally {
public:
    void Add(uint64_t number, bool verified, const SampleSummary& summary);

    // The report's lines of the machine, each with its label: "Clock",
    // "Temperature", "Throttling", "Other load", "Steal", "Energy", each a
    // reading or "not available here: ...".
    std::vector<std::pair<std::string, std::string>> Lines(const SensorSources& sources, uint32_t primes) const;

    // The cause of a change of `drift` (last quarter's median time over the
    // first's, minus 1; none when there were too few runs) that the
    // readings support, and only that: "slowed 12 % from the first quarter
    // to the last; clock fell from 3.50 to 2.80 GHz while the package
    // reached 96 °C: thermal throttling (214 throttle events)".
    std::string Cause(std::optional<double> drift, const SensorSources& sources) const;

    std::optional<double> clockMin, clockMax, offered;
    std::optional<double> hottestC;
    std::string hottest;
    std::optional<uint64_t> throttleEvents;

private:
    struct Trace {
        uint64_t number = 0;
        bool verified = false;
        std::optional<double> clockMhz, otherLoad, steal, energyJoules;
    };
    std::vector<Trace> traces;
};
