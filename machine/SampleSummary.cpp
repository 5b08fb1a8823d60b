#include "machine/SampleSummary.h"

#include <algorithm>

namespace {

// The clock samples' median; the run times' statistics live in the run core,
// above this layer.
double MedianClock(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// What a counter grew by between two samples; nothing when either could not
// be read or it went back (a counter reset).
std::optional<double> Grew(const std::optional<double>& from, const std::optional<double>& to) {
    if (!from || !to || *to < *from) return std::nullopt;
    return *to - *from;
}

// Energy from `from` to `to`, one counter per domain: a counter found lower
// has passed its range once (samples come far more often than a counter
// wraps: about an hour at 100 W). Nothing when the domains do not match.
std::optional<double> EnergyBetween(const std::vector<EnergyCounter>& from, const std::vector<EnergyCounter>& to) {
    if (from.empty() || from.size() != to.size()) return std::nullopt;
    double microjoules = 0.0;
    for (size_t i = 0; i < from.size(); ++i) {
        const uint64_t before = from[i].microjoules;
        const uint64_t after = to[i].microjoules;
        if (after >= before) {
            microjoules += double(after - before);
        } else if (to[i].range > 0 && before <= to[i].range) {
            microjoules += double(to[i].range - before) + double(after);
        } else {
            return std::nullopt;
        }
    }
    return microjoules;
}

}  // namespace

std::string NotAvailable(const std::string& reason) { return "not available here: " + reason; }

bool IsNotAvailable(const std::string& source) { return source.rfind("not available here", 0) == 0; }

void SampleAccumulator::Add(const MachineSample& sample) {
    const bool start = !first.has_value();
    if (start) {
        first = sample;
    } else if (!gaugesAfterStart && (sample.clockMhz || sample.temperatureC)) {
        // The start's gauges were taken before the workers ran.
        gaugesAfterStart = true;
        clocks.clear();
        hottestC.reset();
        hottest.clear();
    }
    if (start || gaugesAfterStart) {
        if (sample.clockMhz) clocks.push_back(*sample.clockMhz);
        if (sample.temperatureC && (!hottestC || *sample.temperatureC > *hottestC)) {
            hottestC = sample.temperatureC;
            hottest = sample.hottest;
        }
    }
    if (!start && last) {
        if (const auto energy = EnergyBetween(last->energy, sample.energy)) {
            energyMicrojoules += *energy;
            energyCounted = true;
        }
    }
    // A sample that could not read the energy leaves the last one that did as the reference.
    if (!last || !sample.energy.empty()) {
        last = sample;
    } else {
        std::vector<EnergyCounter> energy = last->energy;
        last = sample;
        last->energy = std::move(energy);
    }
}

SampleSummary SampleAccumulator::Summary() const {
    SampleSummary summary;
    summary.clockOfferedMhz = offered;
    if (!clocks.empty()) {
        summary.clockMinMhz = *std::min_element(clocks.begin(), clocks.end());
        summary.clockMaxMhz = *std::max_element(clocks.begin(), clocks.end());
        summary.clockMedianMhz = MedianClock(clocks);
    }
    summary.temperatureMaxC = hottestC;
    summary.hottest = hottest;
    if (!first || !last) return summary;
    if (first->throttleCount && last->throttleCount && *last->throttleCount >= *first->throttleCount) {
        summary.throttleEvents = *last->throttleCount - *first->throttleCount;
    }
    const std::optional<double> all = Grew(first->allSeconds, last->allSeconds);
    if (all && *all > 0.0) {
        const std::optional<double> busy = Grew(first->busySeconds, last->busySeconds);
        const std::optional<double> own = Grew(first->ownSeconds, last->ownSeconds);
        if (busy && own) summary.otherLoad = std::clamp((*busy - *own) / *all, 0.0, 1.0);
        if (const std::optional<double> steal = Grew(first->stealSeconds, last->stealSeconds)) {
            summary.steal = std::clamp(*steal / *all, 0.0, 1.0);
        }
    }
    if (energyCounted) summary.energyJoules = energyMicrojoules / 1e6;
    return summary;
}

SampleSummary SummarizeSamples(const std::vector<MachineSample>& samples, std::optional<double> offeredMhz) {
    SampleAccumulator accumulator(offeredMhz);
    for (const MachineSample& sample : samples) accumulator.Add(sample);
    return accumulator.Summary();
}
