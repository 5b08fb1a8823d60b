// The bridge from the portable engine's notifications to the main window.
#pragma once

#include <windows.h>

#include "engine/Notify.h"

// Delivers each engine notification to the main window with SendMessageW, so
// the worker that reports waits until the UI thread has handled it.
class WindowNotifier final : public INotifyTarget {
public:
    constexpr WindowNotifier() = default;
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override;

    HWND window = nullptr;
};

// Serves messages that other threads are sending to this thread, waiting at
// most a millisecond for one. The UI thread runs it while it waits for worker
// threads to end: a worker blocked in SendMessageW to the main window could
// never end otherwise.
void ServeSentMessages();
