#include "app/Platform.h"

#include <commctrl.h>

#ifndef _WIN64
// Exported by the system's msvcrt.dll on x86; MinGW's headers do not declare it.
extern "C" int __cdecl _set_SSE2_enable(int flag);
#endif

uint32_t SystemProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<uint32_t>(info.dwNumberOfProcessors);
}

namespace {
uint32_t SystemTick() { return static_cast<uint32_t>(GetTickCount()); }
}  // namespace

ProcessorCountSource processorCountSource = SystemProcessorCount;
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
