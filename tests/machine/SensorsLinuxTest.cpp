// Machines this one is not, as fixture trees of sysfs and procfs under a
// root of the test's own: each run of a stress reads the tree at its start
// and its end, and the tree moves on between runs as the machine would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "machine/SampleSummary.h"
#include "machine/SensorsLinux.h"
#include "runner/MachineWords.h"
#include "tests/support/TestFiles.h"

namespace {

using Files = std::map<std::string, std::string>;

std::string N(double value) { return std::to_string(int64_t(value)); }

// /proc/stat's first line: user nice system idle iowait irq softirq steal, in ticks.
std::string Stat(int64_t busy, int64_t idle, int64_t steal) {
    return "cpu  " + std::to_string(busy) + " 0 0 " + std::to_string(idle) + " 0 0 0 " + std::to_string(steal) +
           " 0 0\ncpu0 0 0 0 0 0 0 0 0 0 0\n";
}

// Two processors of one core (one counter between them), throttled 214
// times as it heats over 8 runs, its clock falling.
Files Throttling(int step) {
    const int clock = step <= 2 ? 3500000 : step >= 7 ? 2800000 : 3500000 - (step - 2) * 140000;
    Files files = {{"sys/class/hwmon/hwmon0/name", "coretemp\n"},
                   {"sys/class/hwmon/hwmon0/temp1_label", "Package id 0\n"},
                   {"sys/class/hwmon/hwmon0/temp1_input", N(70000 + step * 3250) + "\n"},
                   {"sys/class/hwmon/hwmon1/name", "nvme\n"},
                   {"sys/class/hwmon/hwmon1/temp1_input", "99000\n"}};
    for (const char* cpu : {"cpu0", "cpu1"}) {
        const std::string folder = std::string("sys/devices/system/cpu/") + cpu;
        files[folder + "/cpufreq/scaling_cur_freq"] = N(clock) + "\n";
        files[folder + "/cpufreq/cpuinfo_max_freq"] = "3600000\n";
        files[folder + "/topology/physical_package_id"] = "0\n";
        files[folder + "/topology/core_id"] = "0\n";
        files[folder + "/thermal_throttle/core_throttle_count"] = N(1000 + (step == 8 ? 214 : step * 26)) + "\n";
    }
    return files;
}

// A RAPL package domain whose counter passes its range in the fourth run;
// its subzone is a part of it, not counted again.
Files Rapl(int step) {
    const uint64_t range = 262143328850;
    const uint64_t energy = (range - 7000000 + uint64_t(step) * 2000000) % range;
    return {{"sys/class/powercap/intel-rapl:0/energy_uj", std::to_string(energy) + "\n"},
            {"sys/class/powercap/intel-rapl:0/max_energy_range_uj", std::to_string(range) + "\n"},
            {"sys/class/powercap/intel-rapl:0:0/energy_uj", "5\n"},
            {"sys/class/thermal/thermal_zone0/type", "acpitz\n"},
            {"sys/class/thermal/thermal_zone0/temp", "30000\n"},
            {"sys/class/thermal/thermal_zone1/type", "x86_pkg_temp\n"},
            {"sys/class/thermal/thermal_zone1/temp", N(50000 + step * 1000) + "\n"}};
}

// This VM: a clock in /proc/cpuinfo, /proc/stat with steal, no sensors.
// Other programs take 41 % of the processors in runs 7 to 12 (43 % in the
// first of them); the hypervisor 9 % throughout.
Files ThisVm(int step) {
    int64_t busy = 0;
    for (int s = 1; s <= step; ++s) busy += s == 7 ? 430 : s > 7 && s <= 12 ? 410 : 20;
    return {{"proc/cpuinfo", "processor\t: 0\ncpu MHz\t\t: 2299.998\n\nprocessor\t: 1\ncpu MHz\t\t: 2299.998\n"},
            {"proc/stat", Stat(busy, int64_t(step) * 1000 - busy - step * 90, step * 90)}};
}

Files Nothing(int) { return {}; }

}  // namespace

TEST(Sensors, FixtureMachinesSampledRunByRun) {
    struct Machine {
        const char* name;
        std::function<Files(int)> files;  // the tree at each step: run k goes from step k - 1 to step k
        int runs;
        double drift;                     // the stress's change of the time per run
        std::map<std::string, std::string> lines;  // the summary's lines, as far as given
        std::string cause;
    };
    const std::string none = "not available here: ";
    const std::vector<Machine> machines = {
        {"throttling", Throttling, 8, 0.12,
         {{"Clock", "min 2.80 GHz, median 3.15 GHz, max 3.50 GHz; the machine offers up to 3.60 GHz"},
          {"Temperature", "max 96 \u00b0C (Package id 0)"},
          {"Throttling", "214 throttle events"},
          {"Other load", none + "no /proc/stat"},
          {"Energy", none + "no powercap RAPL zone"}},
         "slowed 12 % from the first quarter to the last; clock fell from 3.50 to 2.80 GHz while the package reached "
         "96 \u00b0C: thermal throttling (214 throttle events)"},
        {"RAPL across a wraparound", Rapl, 8, 0.0,
         {{"Energy", "2.00 J per run (median), 50000 primes per joule"},
          {"Temperature", "max 58 \u00b0C (x86_pkg_temp)"},
          {"Clock", none + "no cpufreq and no cpu MHz in /proc/cpuinfo"}},
         "nothing of the machine could be read here"},
        {"this VM", ThisVm, 13, 0.2,
         {{"Clock", "min 2.30 GHz, median 2.30 GHz, max 2.30 GHz; the highest it offers is " + none +
                        "no cpufreq, and /proc/cpuinfo gives the current clock only"},
          {"Temperature", none + "no hwmon sensor of the processors and no thermal zone of them"},
          {"Throttling", none + "no thermal_throttle counters in sysfs"},
          {"Other load", "median 2 %, at most 43 % (run 7)"},
          {"Steal", "median 9 %, at most 9 %"}},
         "slowed 20 % from the first quarter to the last; other programs used 41 % of the processors during runs "
         "7\u201312; the hypervisor took 9 % (steal)"},
        {"nothing to read", Nothing, 8, 0.2, {{"Steal", none + "no /proc/stat"}},
         "slowed 20 % from the first quarter to the last; nothing of the machine could be read here: the cause is "
         "not visible from here"},
    };
    for (const Machine& machine : machines) {
        SCOPED_TRACE(machine.name);
        TempFolder root;
        auto lay = [&](int step) {
            for (const auto& [name, text] : machine.files(step)) {
                std::filesystem::create_directories(root.Path(name).parent_path());
                WriteBytes(root.Path(name), text);
            }
        };
        lay(0);
        const std::unique_ptr<SensorReader> reader = OpenSensorReaderAt(root.folder, {}, true);
        EXPECT_EQ(reader->Sources().root, root.folder.string());
        MachineTally tally;
        MachineSample start = reader->Read();
        for (int run = 1; run <= machine.runs; ++run) {
            lay(run);
            const MachineSample end = reader->Read();
            tally.Add(uint64_t(run), true, SummarizeSamples({start, end}, reader->OfferedClockMhz()));
            start = end;
        }
        std::map<std::string, std::string> lines;
        for (const auto& [label, text] : tally.Lines(reader->Sources(), 100000)) lines[label] = text;
        for (const auto& [label, text] : machine.lines) EXPECT_EQ(lines[label], text) << label;
        EXPECT_EQ(tally.Cause(machine.drift, reader->Sources()), machine.cause);
    }
}

// Runs shorter than the counters' resolution read no load; a counter that
// went back without a known range, no energy, one of known range wrapped;
// the gauges of a run's start count only when it had no other sample.
TEST(Sensors, SummariesOfWhatCouldNotBeMeasured) {
    MachineSample start;
    start.clockMhz = 800.0;
    start.allSeconds = 10.0;
    start.busySeconds = 4.0;
    start.ownSeconds = 1.0;
    start.energy = {{5000000, 0}};
    MachineSample end = start;
    end.energy = {{1000, 0}};
    SampleSummary summary = SummarizeSamples({start, end}, std::nullopt);
    EXPECT_FALSE(summary.otherLoad);
    EXPECT_FALSE(summary.energyJoules);
    EXPECT_EQ(summary.clockMinMhz, 800.0);
    end.clockMhz = 3000.0;
    end.allSeconds = 12.0;
    end.busySeconds = 5.5;
    end.ownSeconds = 1.0;
    // A counter of known range passes it: what it counted to the range and from 0.
    start.energy = {{262143328850 - 1000000, 262143328850}};
    end.energy = {{500000, 262143328850}};
    summary = SummarizeSamples({start, end}, std::nullopt);
    EXPECT_EQ(summary.energyJoules, 1.5);
    EXPECT_EQ(summary.clockMinMhz, 3000.0);
    EXPECT_EQ(summary.otherLoad, 0.75);
    EXPECT_EQ(DisturbanceText(summary), "other programs used 75 % of the processors");
}
