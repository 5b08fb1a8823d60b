// Drives the real main dialog, created from the real template, with a
// controller of the test's own.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
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
