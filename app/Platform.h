// What the program takes from the machine, behind sources that tests replace.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "engine/PrimeFinder.h"

// The number of logical processors the thread list is built for. Tests point
// it at a function of their own to try other machines.
using ProcessorCountSource = uint32_t (*)();
extern ProcessorCountSource processorCountSource;
// The active processors of every processor group, GetActiveProcessorCount
// (ALL_PROCESSOR_GROUPS): GetSystemInfo counts only the calling thread's
// group, at most 64.
uint32_t SystemProcessorCount();

// The active processors of each processor group, in group order. Tests
// describe machines of several groups with a function of their own.
using ProcessorGroupsSource = std::vector<uint32_t> (*)();
extern ProcessorGroupsSource processorGroupsSource;
std::vector<uint32_t> SystemProcessorGroups();

// Puts the calling thread in processor group `group`, on all of its active
// processors. Tests record the group instead.
using GroupPlacer = void (*)(uint16_t group);
extern GroupPlacer groupPlacer;
void PlaceInGroup(uint16_t group);

// What each worker runs as it starts on a machine of these groups: with more
// than one, the workers are spread over them in proportion to their sizes
// (WorkerGroup), since before Windows 11 every thread would stay in the
// process's first group. With one group, nothing (empty).
WorkerStartHook GroupPlacement(const std::vector<uint32_t>& groups);

// The millisecond tick counter elapsed times are measured with.
using TickSource = uint32_t (*)();
extern TickSource tickSource;

// Tells the user about a failure: a message box owned by `owner`, which
// keeps the main window disabled until it is answered. Tests point it at a
// recorder of their own.
using ProblemSink = void (*)(HWND owner, const wchar_t* text);
extern ProblemSink problemSink;
void ShowProblemBox(HWND owner, const wchar_t* text);

// The stack reserve of writer threads, 0 for the default. Tests ask for more
// than a 32-bit process has, to see a writer that cannot start.
extern uint32_t writerStackSize;

// Switches the C runtime's math functions (log, pow, ...) to their SSE2
// versions, which the thread list's logarithms are computed with. The 64-bit
// runtime has no others.
void EnableSse2Math();

// Registers the list view and progress bar classes of Common Controls 6,
// which the main dialog's template uses.
bool InitCommonControlClasses();
