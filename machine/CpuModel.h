// The processor's model, as the context block names it.
#pragma once

#include <string>

// The processor's own brand string where it has one (x86), else the
// system's name for it, else "unknown".
std::string CpuModel();

// The processor model as the system names it, for processors that do not
// name themselves (/proc/cpuinfo on Linux); empty when the system does not
// say. In ProcessorsLinux.cpp or ProcessorsWindows.cpp.
std::string CpuModelOfSystem();
