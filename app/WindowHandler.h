// The controller of the main dialog and the About box: one object for the
// life of the process, reached by both dialog procedures.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/WindowNotifier.h"
#include "engine/PrimeCoordinator.h"
#include "export/FileManager.h"
#include "export/ListViewGridSource.h"

class WindowHandler {
public:
    WindowHandler() = default;
    WindowHandler(const WindowHandler&) = delete;
    WindowHandler& operator=(const WindowHandler&) = delete;
    virtual ~WindowHandler();

    // Message dispatch (WindowHandler.cpp). Returns whether the message was
    // handled; the dialog procedures pass that on as TRUE or FALSE.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, HWND window);
    bool OnInitDialog(HWND window);
    void LoadTitleStrings();
    bool OnShowWindow(HWND window);
    bool OnLButtonDown(HWND window);

    // Menu commands and run state (RunCommands.cpp).
    bool OnCommand(HWND window, WPARAM wParam);
    bool OnStart();
    bool OnStop();
    bool OnClearGrid();
    bool OnSearchFinished(WPARAM wParam, LPARAM lParam);
    bool OnSearchProgress(WPARAM wParam, LPARAM lParam);
    void SetExportItems(UINT menuState);
    void SetRunControls(bool running);
    // Ends the process at once with exit code 0, whatever runs (Exit, closing
    // the main window).
    [[noreturn]] void EndProcess();

    // Save commands (RunCommands.cpp).
    bool OnSaveGrid(HWND window);
    bool OnSavePrimes();
    bool OnSaveProgress(WPARAM wParam, LPARAM lParam);
    bool OnSaveFinished();

    // Task and thread-count selectors (view/Selectors.cpp).
    void FillTaskList();
    void FillThreadList();
    uint16_t SelectedThreadCount();
    uint32_t SelectedTaskSize();
    const wchar_t* SelectedTaskLabel();

    // Result grid, progress bar and title (view/ResultGrid.cpp).
    void SetupGrid();
    LRESULT AddGridColumn(const wchar_t* title, HWND grid, int width, int column);
    void InsertRunRow(const wchar_t* label, HWND grid, int row);
    void SetGridCell(const wchar_t* text, HWND grid, int row, int column);
    void UpdateRunRow(bool finished, uint32_t index, uint32_t prime);
    void SetProgress(int32_t high, int32_t pos, int32_t low);
    const wchar_t* LastRunTask();

    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    uint32_t startTick = 0;
    int32_t currentRow = 0;
    wchar_t threadText[100] = {};
    wchar_t titleBase[260] = {};
    wchar_t authorText[260] = {};
    PrimeCoordinator* manager = nullptr;

    // Forwards the coordinator's and the writers' notifications to mainWindow.
    WindowNotifier notifier;
    // The export job, reused by every save; it reports through notifier.
    FileManager fileJob{&notifier};
    // The rows a grid save reads: the list view, answered on the UI thread.
    ListViewGridSource gridRows{nullptr};

    // Set by a refused Start that dropped the earlier table, or replaced it
    // before its first worker thread failed to start: the table holds no
    // run's primes until the next run starts.
    bool primesGivenUp = false;

private:
    // Whether the table holds the primes of the last run.
    bool HasPrimesToSave() const;
    // Save Primes is offered only while the table holds the last run's primes.
    void GrayPrimesIfNone();
};

// The one controller. Every field is zero or empty before WinMain runs, and
// its construction touches nothing outside itself.
extern WindowHandler windowHandler;

// What the About box's procedure reaches the controller through; set during
// static initialisation.
extern WindowHandler* const aboutHandler;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
