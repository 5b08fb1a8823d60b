// What the program takes from the machine, behind sources that tests replace.
#pragma once

#include <windows.h>

#include <cstdint>

// The number of logical processors the thread list is built for. Tests point
// it at a function of their own to try other machines.
using ProcessorCountSource = uint32_t (*)();
extern ProcessorCountSource processorCountSource;
uint32_t SystemProcessorCount();  // GetSystemInfo's dwNumberOfProcessors

// The millisecond tick counter elapsed times are measured with.
using TickSource = uint32_t (*)();
extern TickSource tickSource;

// Switches the C runtime's math functions (log, pow, ...) to their SSE2
// versions, which the thread list's logarithms are computed with.
void EnableSse2Math();

// Registers the list view and progress bar classes of Common Controls 6,
// which the main dialog's template uses.
bool InitCommonControlClasses();
