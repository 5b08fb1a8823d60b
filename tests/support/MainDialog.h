// Drives the real main dialog, created from the real template, with a
// controller of the test's own.
#pragma once

#include <windows.h>

#include <gmock/gmock.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/WindowHandler.h"

// The main window's title without a percentage: the platform is the build's.
#ifdef _WIN64
#define TITLE_BASE L"Vantrel@x64"
#else
#define TITLE_BASE L"Vantrel@x86"
#endif

// The processor count FillThreadList sees, and the tick counter's value.
extern uint32_t injectedProcessors;
extern uint32_t injectedTick;
uint32_t InjectedProcessors();
uint32_t InjectedTick();

std::wstring WindowText(HWND window);
std::wstring ComboItems(HWND combo);  // "a|b|c"
std::wstring CellText(HWND grid, int row, int column);
int RowCount(HWND grid);
bool MenuGrayed(HWND window, UINT command);

// Which commands are usable (true) and which selectors enabled. Safe from
// any thread: it only reads the menu and the windows' styles.
struct RunState {
    bool start, stop, savePrimes, saveGrid, clearGrid, task, threads;
    bool operator==(const RunState&) const = default;
};
std::ostream& operator<<(std::ostream& out, const RunState& s);
RunState Usable(HWND window);
constexpr RunState kIdle{true, false, false, false, false, true, true};
constexpr RunState kRunning{false, true, false, false, false, false, false};
constexpr RunState kReady{true, false, true, true, true, true, true};
constexpr RunState kSaving{false, false, false, false, false, false, false};
struct ProgressState {
    int low, high, pos;
};
ProgressState Progress(HWND window);

// Processes queued and sent messages until `done` holds or time runs out.
// The default is what a small task (a run or a save of 100K or 1M) needs.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the main dialog for a machine with the given processors.
    void Open(uint32_t processors = 8);
    HWND Item(int id) const { return GetDlgItem(window, id); }

    static INT_PTR CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam);
    static WindowHandler* current;

    WindowHandler* handler = nullptr;
    HWND window = nullptr;
};
