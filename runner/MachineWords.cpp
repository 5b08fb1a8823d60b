#include "runner/MachineWords.h"

#include <algorithm>
#include <cmath>

#include "engine/RunText.h"
#include "engine/Text.h"
#include "runner/Statistics.h"

namespace {

// A slowdown or a fall of the clock smaller than this is a shared machine's noise.
constexpr double kNoticeable = 0.03;

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
    return text;
}

std::string Events(uint64_t events) { return Plural(events, "throttle event", "throttle events"); }

// Where the hottest sensor sits, as the words name it.
std::string Place(const std::string& label) {
    if (label.rfind("Package", 0) == 0 || label == "Tctl" || label == "Tdie" || label == "x86_pkg_temp") {
        return "the package";
    }
    if (label.rfind("Core ", 0) == 0) return "core " + label.substr(5);
    return "the processors";
}

// "run 7", "runs 7–12", "runs 3, 7–12".
std::string RunsText(const std::vector<uint64_t>& numbers) {
    std::string ranges;
    for (char c : RangesText(numbers, ", ")) ranges += c == '-' ? std::string("\u2013") : std::string(1, c);
    return (numbers.size() == 1 ? "run " : "runs ") + ranges;
}

std::optional<double> MedianOfSome(const std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    return MedianOf(values);
}

}  // namespace

std::string ClockText(double mhz) { return FormatFixed2(mhz / 1000.0) + " GHz"; }

std::string TemperatureText(double celsius) { return std::to_string(std::lround(celsius)) + " \u00b0C"; }

std::string ShareText(double share) { return std::to_string(std::lround(share * 100.0)) + " %"; }

SampleSummary CombineSummaries(const std::vector<SampleSummary>& runs) {
    SampleSummary all;
    std::vector<double> medians;
    std::vector<double> energies;
    auto lowest = [](std::optional<double>& into, const std::optional<double>& value) {
        if (value && (!into || *value < *into)) into = value;
    };
    auto highest = [](std::optional<double>& into, const std::optional<double>& value) {
        if (value && (!into || *value > *into)) into = value;
    };
    for (const SampleSummary& run : runs) {
        lowest(all.clockMinMhz, run.clockMinMhz);
        highest(all.clockMaxMhz, run.clockMaxMhz);
        if (run.clockMedianMhz) medians.push_back(*run.clockMedianMhz);
        if (!all.clockOfferedMhz) all.clockOfferedMhz = run.clockOfferedMhz;
        if (run.temperatureMaxC && (!all.temperatureMaxC || *run.temperatureMaxC > *all.temperatureMaxC)) {
            all.temperatureMaxC = run.temperatureMaxC;
            all.hottest = run.hottest;
        }
        if (run.throttleEvents) all.throttleEvents = all.throttleEvents.value_or(0) + *run.throttleEvents;
        highest(all.otherLoad, run.otherLoad);
        highest(all.steal, run.steal);
        if (run.energyJoules) energies.push_back(*run.energyJoules);
    }
    all.clockMedianMhz = MedianOfSome(medians);
    all.energyJoules = MedianOfSome(energies);
    return all;
}

std::string DisturbanceText(const SampleSummary& summary) {
    std::vector<std::string> parts;
    if (summary.throttleEvents && *summary.throttleEvents > 0) {
        parts.push_back("thermal throttling (" + Events(*summary.throttleEvents) + ")");
    }
    if (summary.otherLoad && *summary.otherLoad >= kOtherLoadShare) {
        parts.push_back("other programs used " + ShareText(*summary.otherLoad) + " of the processors");
    }
    if (summary.steal && *summary.steal >= kStealShare) {
        parts.push_back("the hypervisor took " + ShareText(*summary.steal) + " (steal)");
    }
    return Join(parts, "; ");
}

std::string MachineBrief(const SampleSummary& summary) {
    std::vector<std::string> parts;
    if (summary.clockMedianMhz) parts.push_back("median " + ClockText(*summary.clockMedianMhz));
    if (summary.temperatureMaxC) parts.push_back("max " + TemperatureText(*summary.temperatureMaxC));
    if (summary.throttleEvents && *summary.throttleEvents > 0) parts.push_back(Events(*summary.throttleEvents));
    if (summary.otherLoad && *summary.otherLoad >= kOtherLoadShare) {
        parts.push_back("other load " + ShareText(*summary.otherLoad));
    }
    if (summary.steal && *summary.steal >= kStealShare) parts.push_back("steal " + ShareText(*summary.steal));
    return Join(parts, ", ");
}

void MachineTally::Add(uint64_t number, bool verified, const SampleSummary& s) {
    traces.push_back({number, verified, s.clockMedianMhz, s.otherLoad, s.steal, s.energyJoules});
    if (s.clockMinMhz && (!clockMin || *s.clockMinMhz < *clockMin)) clockMin = s.clockMinMhz;
    if (s.clockMaxMhz && (!clockMax || *s.clockMaxMhz > *clockMax)) clockMax = s.clockMaxMhz;
    if (s.clockOfferedMhz) offered = s.clockOfferedMhz;
    if (s.temperatureMaxC && (!hottestC || *s.temperatureMaxC > *hottestC)) {
        hottestC = s.temperatureMaxC;
        hottest = s.hottest;
    }
    if (s.throttleEvents) throttleEvents = throttleEvents.value_or(0) + *s.throttleEvents;
}

std::vector<std::pair<std::string, std::string>> MachineTally::Lines(const SensorSources& sources,
                                                                     uint32_t primes) const {
    const std::string unmeasured = "not measured: no run was long enough";
    auto reading = [&unmeasured](const std::string& source, bool read, const std::string& text) {
        if (IsNotAvailable(source)) return source;
        return read ? text : unmeasured;
    };
    std::vector<double> clocks, others, steals, energies;
    double worstOther = -1.0;
    uint64_t worstRun = 0;
    for (const Trace& trace : traces) {
        if (trace.clockMhz) clocks.push_back(*trace.clockMhz);
        if (trace.otherLoad) {
            others.push_back(*trace.otherLoad);
            if (*trace.otherLoad > worstOther) {
                worstOther = *trace.otherLoad;
                worstRun = trace.number;
            }
        }
        if (trace.steal) steals.push_back(*trace.steal);
        if (trace.energyJoules && trace.verified) energies.push_back(*trace.energyJoules);
    }
    std::string clock;
    if (clockMin && clockMax && !clocks.empty()) {
        clock = "min " + ClockText(*clockMin) + ", median " + ClockText(MedianOf(clocks)) + ", max " + ClockText(*clockMax);
        clock += offered ? "; the machine offers up to " + ClockText(*offered)
                         : "; the highest it offers is " + sources.clockOffered;
    }
    std::string energy;
    if (!energies.empty()) {
        const double joules = MedianOf(energies);
        energy = FormatFixed2(joules) + " J per run (median)";
        if (joules > 0.0) energy += ", " + std::to_string(std::llround(double(primes) / joules)) + " primes per joule";
    }
    return {
        {"Clock", reading(sources.clock, !clock.empty(), clock)},
        {"Temperature", reading(sources.temperature, hottestC.has_value(),
                                hottestC ? "max " + TemperatureText(*hottestC) + " (" + hottest + ")" : "")},
        {"Throttling", reading(sources.throttle, throttleEvents.has_value(), throttleEvents ? Events(*throttleEvents) : "")},
        {"Other load", reading(sources.load, !others.empty(),
                               others.empty() ? "" : "median " + ShareText(MedianOf(others)) + ", at most " +
                                                          ShareText(worstOther) + " (run " + std::to_string(worstRun) + ")")},
        {"Steal", reading(sources.steal, !steals.empty(),
                          steals.empty() ? "" : "median " + ShareText(MedianOf(steals)) + ", at most " +
                                                     ShareText(*std::max_element(steals.begin(), steals.end())))},
        {"Energy", reading(sources.energy, !energy.empty(), energy)},
    };
}

std::string MachineTally::Cause(std::optional<double> drift, const SensorSources& sources) const {
    std::vector<const Trace*> verified;
    for (const Trace& trace : traces) {
        if (trace.verified) verified.push_back(&trace);
    }
    // The quarters the drift compares.
    std::optional<double> firstClock, lastClock;
    if (verified.size() >= 8) {
        const size_t quarter = verified.size() / 4;
        std::vector<double> first, last;
        for (size_t i = 0; i < quarter; ++i) {
            if (verified[i]->clockMhz) first.push_back(*verified[i]->clockMhz);
            if (verified[verified.size() - quarter + i]->clockMhz) last.push_back(*verified[verified.size() - quarter + i]->clockMhz);
        }
        firstClock = MedianOfSome(first);
        lastClock = MedianOfSome(last);
    }
    const bool throttled = throttleEvents && *throttleEvents > 0;
    const std::string heat = hottestC ? " while " + Place(hottest) + " reached " + TemperatureText(*hottestC) : "";
    std::vector<std::string> parts;
    if (firstClock && lastClock && *lastClock < *firstClock * (1.0 - kNoticeable)) {
        std::string part = "clock fell from " + FormatFixed2(*firstClock / 1000.0) + " to " + ClockText(*lastClock) + heat;
        if (throttled) part += ": thermal throttling (" + Events(*throttleEvents) + ")";
        parts.push_back(part);
    } else if (throttled) {
        parts.push_back("thermal throttling (" + Events(*throttleEvents) + ")" + heat);
    }
    std::vector<uint64_t> loaded;
    std::vector<double> loads;
    std::vector<double> steals;
    for (const Trace& trace : traces) {
        if (trace.otherLoad && *trace.otherLoad >= kOtherLoadShare) {
            loaded.push_back(trace.number);
            loads.push_back(*trace.otherLoad);
        }
        if (trace.steal) steals.push_back(*trace.steal);
    }
    if (!loaded.empty()) {
        parts.push_back("other programs used " + ShareText(MedianOf(loads)) + " of the processors during " +
                        RunsText(loaded));
    }
    if (!steals.empty()) {
        double sum = 0.0;
        for (double steal : steals) sum += steal;
        if (sum / double(steals.size()) >= kStealShare) {
            parts.push_back("the hypervisor took " + ShareText(sum / double(steals.size())) + " (steal)");
        }
    }
    const bool slowed = drift && *drift >= kNoticeable;
    const std::string head =
        slowed ? "slowed " + ShareText(*drift) + " from the first quarter to the last" : std::string();
    if (!parts.empty()) return (slowed ? head + "; " : "") + Join(parts, "; ");
    std::vector<std::string> read;
    if (!IsNotAvailable(sources.clock)) read.push_back("clock");
    if (!IsNotAvailable(sources.load)) read.push_back("load");
    const std::string steady = read.empty() ? "nothing of the machine could be read here" : Join(read, " and ") + " steady";
    return slowed ? head + "; " + steady + ": the cause is not visible from here" : steady;
}
