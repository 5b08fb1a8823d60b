// The menu commands, the search and save notifications, and the run state:
// which selectors and menu items are usable while idle, running or saving.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/Platform.h"
#include "app/WindowHandler.h"
#include "app/view/WideText.h"
#include "engine/RunText.h"
#include "export/WriterThread.h"
#include "res/resource.h"

namespace {

void ShowProblem(HWND owner, const std::wstring& text) { problemSink(owner, text.c_str()); }

// 800000004 -> "800,000,004".
std::wstring Grouped(uint64_t value) {
    std::wstring digits = std::to_wstring(value);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, L',');
    return digits;
}

// What a refused start tells the user: the task, and for a shortage of
// memory how much the task needs, so the user can pick a smaller one.
std::wstring RefusalText(StartResult result, const wchar_t* task, uint16_t threads, uint32_t size,
                         bool primesGivenUp) {
    std::wstring text = L"Cannot start " + std::wstring(task) + L" with " + Widen(ThreadCountText(threads)) + L": " +
                        Widen(StartResultText(result)) + L".";
    if (result == StartResult::OutOfMemory) {
        const uint64_t table = (uint64_t{size} + 1) * sizeof(uint32_t);
        const uint64_t buffers = uint64_t{threads} * sizeof(uint32_t) *
                                 EstimateCapacity(PrimeCoordinator::kFirstRangeEnd + PrimeCoordinator::kRangeSpan,
                                                  PrimeCoordinator::kFirstRangeEnd);
        const uint64_t total = table + buffers;
        text += L" The task needs " + Grouped(total) + L" bytes (" + std::to_wstring((total + (1 << 20) - 1) >> 20) +
                L" MB): " + Grouped(table) + L" for the primes table and " + Grouped(buffers) +
                L" for the result buffers.";
    }
    if (primesGivenUp) {
        text += result == StartResult::OutOfMemory
                    ? L" The primes of the last run were given up to make room and can no longer be saved."
                    : L" The primes of the last run were given up for the attempt and can no longer be saved.";
    }
    return text;
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
        if (window == mainWindow) EndProcess();
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

void WindowHandler::EndProcess() {
    // Workers and a writer die with the process, wherever they are. The
    // runtime may still run static destructors while the process detaches,
    // after every other thread is gone: the coordinator's would wait for
    // workers that can no longer end, so it is let go instead.
    manager = nullptr;
    ExitProcess(0);
}

bool WindowHandler::OnClearGrid() {
    SendDlgItemMessageW(mainWindow, IDC_GRID, LVM_DELETEALLITEMS, 0, 0);
    currentRow = 0;
    SetExportItems(MF_GRAYED);
    SetProgress(100, 0, 0);
    return true;
}

bool WindowHandler::OnStart() {
    // A nested call: any search still running is stopped, and a finish that
    // a completing worker is still sending is handled inside it, so the old
    // row is final and currentRow past it before this run takes anything.
    SendMessageW(mainWindow, WM_COMMAND, IDM_STOP, 0);
    SetRunControls(true);
    SetExportItems(MF_GRAYED);
    const uint16_t threads = SelectedThreadCount();
    const uint32_t size = SelectedTaskSize();
    const bool hadPrimes = HasPrimesToSave();
    const StartResult result =
        size == 0 || threads == 0 ? StartResult::TargetTooSmall : manager->Start(size, threads);
    if (result != StartResult::Started) {
        // Nothing runs (the 200M table may not fit a 32-bit process): no row,
        // and back to where the command found the program, the earlier
        // results with it. A first worker thread that did not start comes
        // after the table was filled with the seed primes for the new run:
        // what it holds is no run's primes.
        if (result == StartResult::ThreadFailed || manager->primes == nullptr) primesGivenUp = true;
        SetRunControls(false);
        if (currentRow > 0) {
            SetExportItems(MF_ENABLED);
            GrayPrimesIfNone();
        }
        if (size != 0 && threads != 0) {
            const bool givenUp = hadPrimes && primesGivenUp;
            ShowProblem(mainWindow, RefusalText(result, SelectedTaskLabel(), threads, size, givenUp));
        }
        return true;
    }
    primesGivenUp = false;
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
    // Stop always waits for the workers, serving what they send meanwhile: a
    // finish on its way is handled in there and moves currentRow on itself,
    // and then Stop reports that it ended nothing.
    if (manager != nullptr && manager->Stop()) {
        SetExportItems(MF_ENABLED);
        SetProgress(100, 0, 0);
        ++currentRow;
        // A search the engine could not carry on (a worker thread that did
        // not start) only ever ends here: tell the user why it stalled.
        const std::string failure = manager->Failure();
        if (!failure.empty()) ShowProblem(mainWindow, L"The run stopped early: " + Widen(failure) + L".");
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

bool WindowHandler::HasPrimesToSave() const {
    return manager != nullptr && manager->primes != nullptr && !primesGivenUp;
}

void WindowHandler::GrayPrimesIfNone() {
    if (HasPrimesToSave()) return;
    EnableMenuItem(GetMenu(mainWindow), IDM_SAVE_PRIMES, MF_BYCOMMAND | MF_GRAYED);
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

namespace {

// The Saving state: nothing that could change the primes table, the grid or
// the job is usable until WM_SAVE_FINISHED.
void EnterSaving(WindowHandler& handler) {
    handler.SetRunControls(true);
    handler.SetExportItems(MF_GRAYED);
    EnableMenuItem(GetMenu(handler.mainWindow), IDM_STOP, MF_BYCOMMAND | MF_GRAYED);
    DrawMenuBar(handler.mainWindow);
}

// "Vantrel@x86(Grid)", "Vantrel@x86(1M)": at most 259 characters, as the
// job's path buffer holds.
std::wstring DefaultFileName(const wchar_t* base, const wchar_t* what) {
    std::wstring name = std::wstring(base) + L"(" + what + L")";
    if (name.size() > 259) name.resize(259);
    return name;
}

}  // namespace

bool WindowHandler::OnSaveGrid(HWND window) {
    EnterSaving(*this);
    fileJob.SetPath(DefaultFileName(titleBase, L"Grid").c_str());
    gridRows.listView = GetDlgItem(window, IDC_GRID);
    fileJob.gridView = &gridRows;
    // On no file, WM_SAVE_FINISHED has already brought the program back to Ready.
    if (!fileJob.RunSaveDialog()) return true;
    // A writer that cannot start records why and sends WM_SAVE_FINISHED itself.
    StartWriterThread(&fileJob, SaveKind::Grid, writerStackSize);
    return true;
}

bool WindowHandler::OnSavePrimes() {
    if (!HasPrimesToSave()) {
        // Only after a refused start gave the table up; the refusal grayed the
        // item, but a later grid save enables it again.
        ShowProblem(mainWindow, L"There are no primes to save: the last run's primes were given up when a "
                                L"task could not start. Run a task to save its primes.");
        return true;
    }
    EnterSaving(*this);
    fileJob.SetPath(DefaultFileName(titleBase, LastRunTask()).c_str());
    fileJob.items = manager->primes;
    fileJob.itemCount = manager->lastIndex;
    if (!fileJob.RunSaveDialog()) return true;
    StartWriterThread(&fileJob, SaveKind::Primes, writerStackSize);
    return true;
}

bool WindowHandler::OnSaveProgress(WPARAM wParam, LPARAM lParam) {
    SetProgress(static_cast<int32_t>(lParam), static_cast<int32_t>(wParam), 0);
    return true;
}

bool WindowHandler::OnSaveFinished() {
    SetRunControls(false);
    SetExportItems(MF_ENABLED);
    const std::string failure = fileJob.Failure();
    if (!failure.empty()) {
        // The writer has nothing left to do: let it end while the user reads.
        if (InSendMessage()) ReplyMessage(TRUE);
        ShowProblem(mainWindow, FromUtf8(failure));
    }
    return true;
}
