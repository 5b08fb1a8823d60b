#include "tests/support/MainDialog.h"

#include <commctrl.h>

#include "app/Platform.h"
#include "res/resource.h"

uint32_t injectedProcessors = 8;
uint32_t injectedTick = 0;
uint32_t InjectedProcessors() { return injectedProcessors; }
uint32_t InjectedTick() { return injectedTick; }

namespace {

// What WinMain does before any window: the program's math and control classes.
class AppEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        EnableSse2Math();
        ASSERT_TRUE(InitCommonControlClasses());
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

}  // namespace

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring ComboItems(HWND combo) {
    std::wstring all;
    const LRESULT n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        wchar_t text[256] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        if (i > 0) all += L"|";
        all += text;
    }
    return all;
}

std::wstring CellText(HWND grid, int row, int column) {
    wchar_t text[256] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(grid, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

int RowCount(HWND grid) { return static_cast<int>(SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0)); }

bool MenuGrayed(HWND window, UINT command) {
    const UINT state = GetMenuState(GetMenu(window), command, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & MF_GRAYED) != 0;
}

std::ostream& operator<<(std::ostream& out, const RunState& s) {
    return out << "{start " << s.start << ", stop " << s.stop << ", savePrimes " << s.savePrimes << ", saveGrid "
               << s.saveGrid << ", clearGrid " << s.clearGrid << ", task " << s.task << ", threads " << s.threads
               << "}";
}

RunState Usable(HWND window) {
    return {!MenuGrayed(window, IDM_START),       !MenuGrayed(window, IDM_STOP),
            !MenuGrayed(window, IDM_SAVE_PRIMES), !MenuGrayed(window, IDM_SAVE_GRID),
            !MenuGrayed(window, IDM_CLEAR_GRID),  IsWindowEnabled(GetDlgItem(window, IDC_TASK)) != FALSE,
            IsWindowEnabled(GetDlgItem(window, IDC_THREADS)) != FALSE};
}

ProgressState Progress(HWND window) {
    HWND bar = GetDlgItem(window, IDC_PROGRESS);
    PBRANGE range = {};
    SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const int pos = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    return {range.iLow, range.iHigh, pos};
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

WindowHandler* MainDialogTest::current = nullptr;

INT_PTR CALLBACK MainDialogTest::Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (current == nullptr) return FALSE;
    return current->HandleMessage(message, wParam, lParam, w) ? TRUE : FALSE;
}

void MainDialogTest::SetUp() {
    processorCountSource = InjectedProcessors;
    tickSource = InjectedTick;
    injectedTick = 0;
}

void MainDialogTest::Open(uint32_t processors) {
    injectedProcessors = processors;
    handler = new WindowHandler();
    handler->instance = GetModuleHandleW(nullptr);
    current = handler;
    window = CreateDialogParamW(handler->instance, MAKEINTRESOURCEW(IDD_MAIN), GetDesktopWindow(), Proc, 0);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(handler->mainWindow, window);
}

void MainDialogTest::TearDown() {
    // Ends any search first, while the window can still take its messages.
    if (handler != nullptr && handler->manager != nullptr) handler->manager->Stop();
    if (window != nullptr) DestroyWindow(window);
    window = nullptr;
    current = nullptr;
    delete handler;
    handler = nullptr;
    processorCountSource = SystemProcessorCount;
    processorGroupsSource = SystemProcessorGroups;
    groupPlacer = PlaceInGroup;
}
