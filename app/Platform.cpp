#include "app/Platform.h"

#include <commctrl.h>

#include "engine/ProcessorGroups.h"

#ifndef _WIN64
// Exported by the system's msvcrt.dll on x86; MinGW's headers do not declare it.
extern "C" int __cdecl _set_SSE2_enable(int flag);
#endif

uint32_t SystemProcessorCount() { return static_cast<uint32_t>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)); }

std::vector<uint32_t> SystemProcessorGroups() {
    std::vector<uint32_t> groups;
    const WORD count = GetActiveProcessorGroupCount();
    for (WORD group = 0; group < count; ++group) groups.push_back(static_cast<uint32_t>(GetActiveProcessorCount(group)));
    return groups;
}

void PlaceInGroup(uint16_t group) {
    GROUP_AFFINITY affinity = {};
    affinity.Group = group;
    // Every active processor of the group; a 32-bit process's mask holds the first 32.
    const DWORD count = GetActiveProcessorCount(group);
    affinity.Mask = count >= sizeof(KAFFINITY) * 8 ? ~KAFFINITY(0) : (KAFFINITY(1) << count) - 1;
    // A refusal leaves the worker where it is: it runs all the same.
    SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr);
}

WorkerStartHook GroupPlacement(const std::vector<uint32_t>& groups) {
    if (groups.size() <= 1) return {};
    return [groups](uint16_t worker, uint16_t threads) { groupPlacer(WorkerGroup(worker, threads, groups)); };
}

namespace {
uint32_t SystemTick() { return static_cast<uint32_t>(GetTickCount()); }
}  // namespace

ProcessorCountSource processorCountSource = SystemProcessorCount;
ProcessorGroupsSource processorGroupsSource = SystemProcessorGroups;
GroupPlacer groupPlacer = PlaceInGroup;
TickSource tickSource = SystemTick;

void ShowProblemBox(HWND owner, const wchar_t* text) {
    MessageBoxW(owner, text, L"Vantrel", MB_OK | MB_ICONEXCLAMATION);
}

ProblemSink problemSink = ShowProblemBox;
uint32_t writerStackSize = 0;

void EnableSse2Math() {
#ifndef _WIN64
    _set_SSE2_enable(1);
#endif
}

bool InitCommonControlClasses() {
    INITCOMMONCONTROLSEX classes;
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS;
    return InitCommonControlsEx(&classes) != FALSE;
}
