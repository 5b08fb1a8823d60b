// The task-size and thread-count lists of the main dialog, over the engine's
// TaskTable. An entry's position is its table index, or the exponent k of its
// 2^k threads: the lists are never sorted.
#include <windows.h>

#include "app/Platform.h"
#include "app/WindowHandler.h"
#include "app/view/WideText.h"
#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "res/resource.h"

namespace {

// The current selection of a task list as a TaskTable index, or -1 when
// there is none or it lies outside the table.
int SelectedTaskIndex(HWND list) {
    const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
    if (index < 0 || index >= TaskTable::count) return -1;
    return static_cast<int>(index);
}

}  // namespace

void WindowHandler::FillTaskList() {
    HWND list = GetDlgItem(mainWindow, IDC_TASK);
    if (list == nullptr) return;
    for (int i = 0; i < TaskTable::count; ++i) {
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(TaskTable::taskLabels[i]));
    }
    SendMessageW(list, CB_SETCURSEL, TaskTable::defaultIndex, 0);
}

void WindowHandler::FillThreadList() {
    HWND list = GetDlgItem(mainWindow, IDC_THREADS);
    if (list == nullptr) return;
    // At most 2^7 = 128 threads, so the engine's bound of 255 holds on any machine.
    const int top = ThreadListTop(processorCountSource());
    for (int k = 0; k <= top; ++k) {
        const std::wstring text = Widen(ThreadCountText(uint32_t{1} << k));
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    SendMessageW(list, CB_SETCURSEL, 0, 0);
}

uint16_t WindowHandler::SelectedThreadCount() {
    HWND list = GetDlgItem(mainWindow, IDC_THREADS);
    if (list == nullptr) return 0;
    const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
    // No selection (CB_ERR) means no thread count, not 2^65535.
    if (index < 0) return 0;
    return ThreadCountOfEntry(static_cast<uint32_t>(index) & 0xFFFF);
}

uint32_t WindowHandler::SelectedTaskSize() {
    HWND list = GetDlgItem(mainWindow, IDC_TASK);
    if (list == nullptr) return 0;
    const int index = SelectedTaskIndex(list);
    return index < 0 ? 0 : TaskTable::taskSizes[index];
}

const wchar_t* WindowHandler::SelectedTaskLabel() {
    HWND list = GetDlgItem(mainWindow, IDC_TASK);
    if (list == nullptr) return nullptr;
    const int index = SelectedTaskIndex(list);
    return index < 0 ? nullptr : TaskTable::taskLabels[index];
}
