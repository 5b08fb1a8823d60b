#include "machine/CpuModel.h"

#include <cstring>

#include "engine/Text.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

std::string CpuModel() {
    // The system's first: another /proc/cpuinfo (bound in a mount namespace)
    // then describes another machine to the runner as it does to hwloc.
    const std::string system = CpuModelOfSystem();
    if (!system.empty()) return system;
#if defined(__i386__) || defined(__x86_64__)
    unsigned int top = __get_cpuid_max(0x80000000u, nullptr);
    if (top >= 0x80000004u) {
        char brand[49] = {};
        for (unsigned int leaf = 0; leaf < 3; ++leaf) {
            unsigned int regs[4] = {};
            __get_cpuid(0x80000002u + leaf, &regs[0], &regs[1], &regs[2], &regs[3]);
            std::memcpy(brand + leaf * 16, regs, sizeof regs);
        }
        std::string model = Trimmed(brand);
        if (!model.empty()) return model;
    }
#endif
    return "unknown";
}
