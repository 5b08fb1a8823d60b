// The menu commands, the search and save notifications, and the run state:
// which selectors and menu items are usable while idle, running or saving.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/Platform.h"
#include "app/WindowHandler.h"
#include "app/view/WideText.h"
#include "res/resource.h"

namespace {

void ShowProblem(HWND owner, const std::string& text) {
    MessageBoxW(owner, Widen(text).c_str(), L"Vantrel", MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

bool WindowHandler::OnCommand(HWND window, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDM_START:
        if (manager != nullptr) OnStart();
        return true;
    case IDM_STOP:
        OnStop();
        return true;
    case IDM_SAVE_GRID:
        OnSaveGrid(window);
        return true;
    case IDM_ABOUT:
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT), mainWindow, AboutDialogProc, 0);
        return true;
    case IDM_EXIT:
        if (window == mainWindow) ExitProcess(0);
        EndDialog(window, 0);
        return true;
    case IDM_SAVE_PRIMES:
        if (manager != nullptr) OnSavePrimes();
        return true;
    case IDM_CLEAR_GRID:
        OnClearGrid();
        return true;
    default:
        // IDOK and IDCANCEL (Enter and Escape) among them: nothing happens.
        return false;
    }
}

bool WindowHandler::OnClearGrid() {
    SendDlgItemMessageW(mainWindow, IDC_GRID, LVM_DELETEALLITEMS, 0, 0);
    currentRow = 0;
    SetExportItems(MF_GRAYED);
    SetProgress(100, 0, 0);
    return true;
}

bool WindowHandler::OnStart() {
    // A nested call: any search still running is stopped, and currentRow
    // moved past its row, before this run takes anything.
    SendMessageW(mainWindow, WM_COMMAND, IDM_STOP, 0);
    SetRunControls(true);
    SetExportItems(MF_GRAYED);
    const uint16_t threads = SelectedThreadCount();
    const uint32_t size = SelectedTaskSize();
    const StartResult result =
        size == 0 || threads == 0 ? StartResult::TargetTooSmall : manager->Start(size, threads);
    if (result != StartResult::Started) {
        // Nothing runs (the 200M table may not fit a 32-bit process): say so
        // and go back to where the command found the program; the earlier
        // results are untouched.
        SetRunControls(false);
        if (currentRow > 0) SetExportItems(MF_ENABLED);
        if (size != 0 && threads != 0) ShowProblem(mainWindow, StartResultText(result));
        return true;
    }
    HWND grid = GetDlgItem(mainWindow, IDC_GRID);
    InsertRunRow(SelectedTaskLabel(), grid, currentRow);
    RECT rect = {};
    rect.left = LVIR_SELECTBOUNDS;
    SendMessageW(grid, LVM_GETITEMRECT, static_cast<WPARAM>(currentRow), reinterpret_cast<LPARAM>(&rect));
    SendMessageW(grid, LVM_SCROLL, 0, static_cast<LPARAM>((rect.bottom - rect.top) * currentRow));
    startTick = tickSource();
    return true;
}

bool WindowHandler::OnStop() {
    if (manager != nullptr && manager->Stop()) {
        SetExportItems(MF_ENABLED);
        SetProgress(100, 0, 0);
        ++currentRow;
        // A search the engine could not carry on (a worker thread that did
        // not start) only ever ends here: tell the user why it stalled.
        const std::string failure = manager->Failure();
        if (!failure.empty()) ShowProblem(mainWindow, failure);
    }
    SetRunControls(false);
    return true;
}

bool WindowHandler::OnSearchProgress(WPARAM wParam, LPARAM lParam) {
    if (manager != nullptr) {
        SetProgress(static_cast<int32_t>(manager->targetCount), static_cast<int32_t>(wParam), 1);
        UpdateRunRow(false, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
    }
    return true;
}

bool WindowHandler::OnSearchFinished(WPARAM wParam, LPARAM lParam) {
    SetRunControls(false);
    UpdateRunRow(true, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
    SetExportItems(MF_ENABLED);
    MessageBeep(MB_ICONEXCLAMATION);
    return true;
}

void WindowHandler::SetExportItems(UINT menuState) {
    HMENU menu = GetMenu(mainWindow);
    EnableMenuItem(menu, IDM_SAVE_GRID, MF_BYCOMMAND | menuState);
    EnableMenuItem(menu, IDM_SAVE_PRIMES, MF_BYCOMMAND | menuState);
    EnableMenuItem(menu, IDM_CLEAR_GRID, MF_BYCOMMAND | menuState);
    DrawMenuBar(mainWindow);
}

void WindowHandler::SetRunControls(bool running) {
    HWND task = GetDlgItem(mainWindow, IDC_TASK);
    HWND threads = GetDlgItem(mainWindow, IDC_THREADS);
    if (task == nullptr || threads == nullptr) return;
    EnableWindow(task, running ? FALSE : TRUE);
    EnableWindow(threads, running ? FALSE : TRUE);
    HMENU menu = GetMenu(mainWindow);
    EnableMenuItem(menu, IDM_START, MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED));
    EnableMenuItem(menu, IDM_STOP, MF_BYCOMMAND | (running ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(mainWindow);
}

// The save commands are wired to the export job with fileJob; until then
// they are handled and do nothing.
bool WindowHandler::OnSaveGrid(HWND) { return true; }

bool WindowHandler::OnSavePrimes() { return true; }

bool WindowHandler::OnSaveProgress(WPARAM wParam, LPARAM lParam) {
    SetProgress(static_cast<int32_t>(lParam), static_cast<int32_t>(wParam), 0);
    return true;
}

bool WindowHandler::OnSaveFinished() {
    SetRunControls(false);
    SetExportItems(MF_ENABLED);
    return true;
}
