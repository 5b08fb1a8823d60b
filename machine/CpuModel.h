// The processor's model, as the context block names it.
#pragma once

#include <string>

// The system's name for the processor where it gives one (on x86 Linux the
// kernel's copy of the brand string, the same text), else the processor's
// own brand string (x86), else "unknown".
std::string CpuModel();

// The processor model as the system names it (/proc/cpuinfo on Linux);
// empty when the system does not say. In ProcessorsLinux.cpp or ProcessorsWindows.cpp.
std::string CpuModelOfSystem();
