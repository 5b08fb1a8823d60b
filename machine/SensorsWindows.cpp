// The sensors on Windows: the processors' clocks from
// CallNtPowerInformation(ProcessorInformation), the machine's and this
// process's processor time from GetSystemTimes and GetProcessTimes. Windows
// gives programs no temperature, throttle count, steal time or energy
// without a driver of their own; the sources say so rather than guess.
#include "machine/Sensors.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <powrprof.h>

#include <algorithm>
#include <set>

namespace {

// What CallNtPowerInformation(ProcessorInformation) gives for each
// processor; the SDK documents it without a header that declares it.
struct ProcessorPower {
    ULONG Number;
    ULONG MaxMhz;
    ULONG CurrentMhz;
    ULONG MhzLimit;
    ULONG MaxIdleState;
    ULONG CurrentIdleState;
};

double Seconds(const FILETIME& time) {
    return double((uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 1e-7;
}

class WindowsSensors final : public SensorReader {
public:
    explicit WindowsSensors(const std::vector<uint32_t>& processors) : wanted(processors.begin(), processors.end()) {
        const std::vector<ProcessorPower> power = Power();
        for (const ProcessorPower& processor : power) {
            if (Counts(processor)) offered = std::max(offered.value_or(0.0), double(processor.MaxMhz));
        }
        const bool clock = !power.empty();
        sources.clock = clock ? "CallNtPowerInformation" : NotAvailable("CallNtPowerInformation gave no processor");
        sources.clockOffered = offered ? sources.clock : NotAvailable("CallNtPowerInformation gave no maximum");
        const std::string none = "Windows gives programs none without a driver";
        sources.temperature = NotAvailable(none);
        sources.throttle = NotAvailable(none);
        FILETIME idle{}, kernel{}, user{};
        sources.load = GetSystemTimes(&idle, &kernel, &user) ? "GetSystemTimes and GetProcessTimes"
                                                             : NotAvailable("GetSystemTimes failed");
        sources.steal = NotAvailable("Windows does not tell a guest's steal time");
        sources.energy = NotAvailable(none);
    }

    const SensorSources& Sources() const override { return sources; }
    std::optional<double> OfferedClockMhz() const override { return offered; }

    MachineSample Read() override {
        MachineSample sample;
        sample.at = double(GetTickCount64()) / 1000.0;
        double sum = 0.0;
        int count = 0;
        for (const ProcessorPower& processor : Power()) {
            if (!Counts(processor) || processor.CurrentMhz == 0) continue;
            sum += double(processor.CurrentMhz);
            ++count;
        }
        if (count > 0) sample.clockMhz = sum / count;
        FILETIME idle{}, kernel{}, user{};
        if (GetSystemTimes(&idle, &kernel, &user)) {
            // The kernel's time includes the idle time.
            sample.allSeconds = Seconds(kernel) + Seconds(user);
            sample.busySeconds = *sample.allSeconds - Seconds(idle);
        }
        FILETIME created{}, exited{}, ownKernel{}, ownUser{};
        if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &ownKernel, &ownUser)) {
            sample.ownSeconds = Seconds(ownKernel) + Seconds(ownUser);
        }
        return sample;
    }

private:
    // The processors of the calling thread's group, numbered as that group's.
    static std::vector<ProcessorPower> Power() {
        const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
        std::vector<ProcessorPower> power(std::max<DWORD>(count, 1));
        const ULONG bytes = ULONG(power.size() * sizeof(ProcessorPower));
        if (CallNtPowerInformation(ProcessorInformation, nullptr, 0, power.data(), bytes) != 0) return {};
        return power;
    }

    bool Counts(const ProcessorPower& processor) const { return wanted.empty() || wanted.count(processor.Number) > 0; }

    std::set<uint32_t> wanted;
    SensorSources sources;
    std::optional<double> offered;
};

}  // namespace

std::unique_ptr<SensorReader> OpenSensorReader(const std::vector<uint32_t>& processors) {
    return std::make_unique<WindowsSensors>(processors);
}
