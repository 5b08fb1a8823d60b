// The result grid, the progress bar and the main window's title. Texts come
// from the engine's RunText, which rounds two-decimal values the way the
// program has always shown them.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>

#include "app/Platform.h"
#include "app/WindowHandler.h"
#include "app/view/WideText.h"
#include "engine/RunText.h"
#include "res/resource.h"

namespace {

struct GridColumn {
    const wchar_t* title;
    int width;
};

constexpr GridColumn gridColumns[] = {
    {L"Task", 35}, {L"Thread Count", 80}, {L"Last Prime", 140}, {L"Time", 100}};

}  // namespace

void WindowHandler::SetupGrid() {
    HWND grid = GetDlgItem(mainWindow, IDC_GRID);
    if (grid == nullptr) return;
    const LPARAM styles = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    SendMessageW(grid, LVM_SETEXTENDEDLISTVIEWSTYLE, static_cast<WPARAM>(styles), styles);
    for (int i = 0; i < 4; ++i) AddGridColumn(gridColumns[i].title, grid, gridColumns[i].width, i);
}

LRESULT WindowHandler::AddGridColumn(const wchar_t* title, HWND grid, int width, int column) {
    LVCOLUMNW col = {};
    col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    col.fmt = LVCFMT_CENTER;
    col.cx = width;
    col.pszText = const_cast<wchar_t*>(title);
    col.cchTextMax = static_cast<int>(std::wcslen(title));
    return SendMessageW(grid, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col));
}

void WindowHandler::InsertRunRow(const wchar_t* label, HWND grid, int row) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_COLFMT;
    item.cColumns = 0;
    item.piColFmt = nullptr;
    item.iItem = row;
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(label);
    item.cchTextMax = label == nullptr ? 0 : static_cast<int>(std::wcslen(label));
    SendMessageW(grid, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void WindowHandler::SetGridCell(const wchar_t* text, HWND grid, int row, int column) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    item.cchTextMax = text == nullptr ? 0 : static_cast<int>(std::wcslen(text));
    SendMessageW(grid, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void WindowHandler::UpdateRunRow(bool finished, uint32_t index, uint32_t prime) {
    if (manager == nullptr) return;
    HWND grid = GetDlgItem(mainWindow, IDC_GRID);
    const uint32_t n = manager->targetCount;
    // Unsigned difference: right across the tick counter's wrap after 49.7 days.
    const uint32_t elapsed = tickSource() - startTick;
    const std::wstring timeText = Widen(TimeText(static_cast<double>(elapsed) / 1000.0));
    const std::wstring primeText =
        Widen(finished ? FinishedPrimeText(prime) : ProgressPrimeText(prime, index, n));

    SetGridCell(SelectedTaskLabel(), grid, currentRow, 0);
    HWND threads = GetDlgItem(mainWindow, IDC_THREADS);
    if (threads != nullptr) {
        const LRESULT selection = SendMessageW(threads, CB_GETCURSEL, 0, 0);
        // CB_GETLBTEXT has no size argument: check that the entry fits first.
        const LRESULT length = SendMessageW(threads, CB_GETLBTEXTLEN, static_cast<WPARAM>(selection), 0);
        if (length >= 0 && length < 100) {
            SendMessageW(threads, CB_GETLBTEXT, static_cast<WPARAM>(selection), reinterpret_cast<LPARAM>(threadText));
        }
    }
    SetGridCell(threadText, grid, currentRow, 1);
    SetGridCell(primeText.c_str(), grid, currentRow, 2);
    SetGridCell(timeText.c_str(), grid, currentRow, 3);
    if (finished) ++currentRow;
}

void WindowHandler::SetProgress(int32_t high, int32_t pos, int32_t low) {
    HWND bar = GetDlgItem(mainWindow, IDC_PROGRESS);
    if (bar != nullptr) {
        SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
    }
    const std::string title = TitleText(Narrow(titleBase), static_cast<uint32_t>(high), static_cast<uint32_t>(pos),
                                        static_cast<uint32_t>(low));
    SetWindowTextW(mainWindow, Widen(title).c_str());
}

const wchar_t* WindowHandler::LastRunTask() {
    HWND grid = GetDlgItem(mainWindow, IDC_GRID);
    if (grid == nullptr) return threadText;
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = currentRow - 1;
    item.iSubItem = 0;
    item.pszText = threadText;
    item.cchTextMax = 100;
    SendMessageW(grid, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return threadText;
}
