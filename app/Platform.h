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
