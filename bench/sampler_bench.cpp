// What the sampler costs a run: the processor time of one sample (it takes
// one a second while a run goes on, and at each run's start and end), on
// this machine and on a large one described by a fixture tree (128 logical
// processors with cpufreq and throttle counters, 64 core temperatures, two
// RAPL domains); and the processor time of whole runs of the engine with the
// sampler and without. Processor time (user + system) rather than wall
// time, which other work on a shared machine would swamp.
//
//   sampler_bench [--reads N] [--runs R]      (defaults 2000 and 9)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/PrimeCoordinator.h"
#include "machine/MachineSampler.h"
#include "machine/SensorsLinux.h"

namespace {

namespace fs = std::filesystem;

double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The median processor time of one call of `work`, in microseconds, on this thread.
double MedianMicroseconds(int reps, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const double start = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        work();
        times.push_back((CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start) * 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Put(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

// A server of 2 packages, 64 cores of 2 processors, every sensor there.
void LayLargeMachine(const fs::path& root) {
    for (int cpu = 0; cpu < 128; ++cpu) {
        const fs::path folder = root / "sys/devices/system/cpu" / ("cpu" + std::to_string(cpu));
        Put(folder / "cpufreq/scaling_cur_freq", "3400000");
        Put(folder / "cpufreq/cpuinfo_max_freq", "3600000");
        Put(folder / "topology/physical_package_id", std::to_string(cpu / 64));
        Put(folder / "topology/core_id", std::to_string(cpu % 32));
        Put(folder / "thermal_throttle/core_throttle_count", "12");
        Put(folder / "thermal_throttle/package_throttle_count", "3");
    }
    for (int package = 0; package < 2; ++package) {
        const fs::path hwmon = root / "sys/class/hwmon" / ("hwmon" + std::to_string(package));
        Put(hwmon / "name", "coretemp");
        for (int sensor = 1; sensor <= 33; ++sensor) {
            Put(hwmon / ("temp" + std::to_string(sensor) + "_input"), "71000");
            Put(hwmon / ("temp" + std::to_string(sensor) + "_label"), sensor == 1 ? "Package id 0" : "Core 1");
        }
        const fs::path rapl = root / "sys/class/powercap" / ("intel-rapl:" + std::to_string(package));
        Put(rapl / "energy_uj", "123456789");
        Put(rapl / "max_energy_range_uj", "262143328850");
    }
    Put(root / "proc/stat", "cpu  100 0 100 1000 0 0 0 7 0 0");
}

// The process's processor time of `runs` searches of 1M on every processor.
double RunsCpuSeconds(int runs, MachineSampler* sampler) {
    PrimeCoordinator coordinator(nullptr);
    const uint16_t threads = uint16_t(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    const double start = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < runs; ++i) {
        if (sampler != nullptr) sampler->Begin();
        coordinator.Start(1000000, threads);
        while (coordinator.running.load()) {
            timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
        coordinator.Stop();
        if (sampler != nullptr) sampler->End();
    }
    return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - start;
}

}  // namespace

int main(int argc, char** argv) {
    int reads = 2000;
    int runs = 9;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--reads") == 0) reads = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    }
    const fs::path root = fs::temp_directory_path() / ("vantrel-sampler-bench-" + std::to_string(getpid()));
    LayLargeMachine(root);
    const auto here = OpenSensorReaderAt("/", {}, false);
    const auto large = OpenSensorReaderAt(root, {}, true);
    const double hereMicros = MedianMicroseconds(reads, [&] { here->Read(); });
    const double largeMicros = MedianMicroseconds(reads, [&] { large->Read(); });
    fs::remove_all(root);

    std::printf("processor time of one sample, median of %d, microseconds\n", reads);
    std::printf("  %-62s %8.1f\n", "this machine", hereMicros);
    std::printf("  %-62s %8.1f\n", "128 processors, 66 temperatures, 2 RAPL domains (fixture)", largeMicros);
    std::printf("share of one processor at one sample a second: this machine %.4f %%, the large one %.4f %%\n",
                hereMicros * 1e-4, largeMicros * 1e-4);

    // Runs with and without the sampler in turn, so that a change of the
    // machine's other load falls on both alike.
    MachineSampler sampler(OpenSensorReaderAt("/", {}, false), kSampleInterval);
    std::vector<double> without, with, ratios;
    for (int i = 0; i < runs; ++i) {
        without.push_back(RunsCpuSeconds(1, nullptr));
        with.push_back(RunsCpuSeconds(1, &sampler));
        ratios.push_back(with.back() / without.back());
    }
    std::sort(without.begin(), without.end());
    std::sort(with.begin(), with.end());
    std::sort(ratios.begin(), ratios.end());
    std::printf("processor time of a run of 1M on every processor, median of %d, seconds: without the sampler %.3f, "
                "with it %.3f; median ratio %.4f\n",
                runs, without[without.size() / 2], with[with.size() / 2], ratios[ratios.size() / 2]);
    return 0;
}
