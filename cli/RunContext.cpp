#include "cli/RunContext.h"

#include <cstring>
#include <ctime>
#include <fstream>

#include "cli/BuildInfo.h"
#include "engine/TaskTable.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/utsname.h>
#endif

namespace {

std::string Trimmed(std::string text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string CpuModel() {
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
#ifndef _WIN32
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        // "model name" on x86, "Model" or "Hardware" elsewhere.
        for (const char* key : {"model name", "Model", "Hardware"}) {
            if (line.compare(0, std::strlen(key), key) == 0) {
                const size_t colon = line.find(':');
                if (colon != std::string::npos) return Trimmed(line.substr(colon + 1));
            }
        }
    }
#endif
    return "unknown";
}

#ifdef _WIN32
std::string OperatingSystem() {
    // GetVersionEx reports what the manifest admits to; the kernel's own
    // version comes from RtlGetVersion.
    std::string text = "Windows";
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr) {
        using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
        auto getVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof info;
        if (getVersion != nullptr && getVersion(&info) == 0) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string&&.
            text += ' ';
            text += std::to_string(info.dwMajorVersion);
            text += '.';
            text += std::to_string(info.dwMinorVersion);
            text += " build ";
            text += std::to_string(info.dwBuildNumber);
        }
        using WineVersionFn = const char*(__cdecl*)();
        auto wineVersion =
            reinterpret_cast<WineVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
        if (wineVersion != nullptr) {
            text += " (Wine ";
            text += wineVersion();
            text += ')';
        }
    }
    return text;
}
#else
std::string OperatingSystem() {
    std::string text;
    utsname name{};
    if (uname(&name) == 0) {
        text = std::string(name.sysname) + " " + name.release + " " + name.machine;
    } else {
        text = "unknown";
    }
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        const std::string key = "PRETTY_NAME=";
        if (line.compare(0, key.size(), key) == 0) {
            std::string pretty = line.substr(key.size());
            if (pretty.size() >= 2 && pretty.front() == '"' && pretty.back() == '"') pretty = pretty.substr(1, pretty.size() - 2);
            text += " (" + pretty + ")";
            break;
        }
    }
    return text;
}
#endif

std::string Compiler() {
#if defined(__clang__)
    return std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
    return "GCC " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
           std::to_string(__GNUC_PATCHLEVEL__);
#elif defined(_MSC_VER)
    return "MSVC " + std::to_string(_MSC_VER);
#else
    return "unknown";
#endif
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);  // the runner reads the clock on one thread only
    char text[32] = {};
    if (utc == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc) == 0) return "unknown";
    return text;
}

}  // namespace

RunContext CollectRunContext() {
    RunContext context;
    context.version = VANTREL_VERSION;
    context.cpu = CpuModel();
    context.logicalProcessors = LogicalProcessors();
    context.os = OperatingSystem();
    context.compiler = Compiler();
    context.buildType = VANTREL_BUILD_TYPE;
    context.flags = VANTREL_BUILD_FLAGS;
    context.bits = int(sizeof(void*) * 8);
    context.date = UtcNow();
    return context;
}
