// Where a report was made: machine, system, build and date, so that results
// from different machines can be told apart.
#pragma once

#include <cstdint>
#include <string>

struct RunContext {
    std::string version;         // "2.0"
    std::string cpu;             // processor model, "unknown" if it cannot be read
    uint32_t logicalProcessors = 1;
    std::string os;              // "Linux 6.1.0-18-amd64 x86_64 (Debian GNU/Linux 12 (bookworm))"
    std::string compiler;        // "GCC 12.2.0"
    std::string buildType;       // "Release"
    std::string flags;           // compiler flags of this build
    int bits = 0;                // 32 or 64
    std::string date;            // UTC, ISO 8601: "2026-12-07T05:51:04Z"
};

// Reads the context of this process and machine now.
RunContext CollectRunContext();

// This build's version, "2.0".
std::string VantrelVersion();
