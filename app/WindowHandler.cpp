#include "app/WindowHandler.h"

#include <string>

#include "app/Platform.h"
#include "res/resource.h"

WindowHandler windowHandler;
WindowHandler* const aboutHandler = &windowHandler;

namespace {

// Copies text into a fixed buffer, cutting it short if it does not fit.
void CopyText(wchar_t* buffer, size_t size, const std::wstring& text) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    text.copy(buffer, n);
    buffer[n] = 0;
}

// The platform part of the title: the build's own architecture.
#ifdef _WIN64
constexpr UINT kPlatformString = IDS_PLATFORM_X64;
#else
constexpr UINT kPlatformString = IDS_PLATFORM_X86;
#endif

}  // namespace

WindowHandler::~WindowHandler() {
    delete manager;
    manager = nullptr;
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return windowHandler.HandleMessage(message, wParam, lParam, window) ? TRUE : FALSE;
}

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return aboutHandler->HandleMessage(message, wParam, lParam, window) ? TRUE : FALSE;
}

bool WindowHandler::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, HWND window) {
    switch (message) {
    case WM_CLOSE:
        if (window == mainWindow) EndProcess();
        EndDialog(window, 0);
        return true;
    case WM_SHOWWINDOW:
        return OnShowWindow(window);
    case WM_INITDIALOG:
        // Only the main dialog is initialised; the About box's WM_INITDIALOG
        // comes once mainWindow is set and must leave everything alone.
        if (mainWindow != nullptr) return false;
        return OnInitDialog(window);
    case WM_COMMAND:
        return OnCommand(window, wParam);
    case WM_LBUTTONDOWN:
        return OnLButtonDown(window);
    case WM_SEARCH_FINISHED:
        return OnSearchFinished(wParam, lParam);
    case WM_SEARCH_PROGRESS:
        return OnSearchProgress(wParam, lParam);
    case WM_SAVE_PROGRESS:
        return OnSaveProgress(wParam, lParam);
    case WM_SAVE_FINISHED:
        return OnSaveFinished();
    default:
        return false;
    }
}

bool WindowHandler::OnInitDialog(HWND window) {
    mainWindow = window;
    LoadTitleStrings();
    notifier.window = window;
    manager = new PrimeCoordinator(&notifier, ServeSentMessages);
    manager->SetWorkerStartHook(GroupPlacement(processorGroupsSource()));
    FillTaskList();
    FillThreadList();
    SetupGrid();
    SetExportItems(MF_GRAYED);
    EnableMenuItem(GetMenu(mainWindow), IDM_STOP, MF_BYCOMMAND | MF_GRAYED);
    // TRUE lets the dialog manager put the focus on the first tab stop, the task list.
    return true;
}

void WindowHandler::LoadTitleStrings() {
    wchar_t appName[260] = {};
    wchar_t platform[260] = {};
    LoadStringW(instance, IDS_APP_NAME, appName, 260);
    LoadStringW(instance, kPlatformString, platform, 260);
    CopyText(titleBase, 260, std::wstring(appName) + L"@" + platform);
    LoadStringW(instance, IDS_AUTHOR, authorText, 260);
}

bool WindowHandler::OnShowWindow(HWND window) {
    if (window == mainWindow) {
        HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    } else {
        wchar_t version[260] = {};
        wchar_t copyright[260] = {};
        LoadStringW(instance, IDS_VERSION, version, 260);
        LoadStringW(instance, IDS_COPYRIGHT, copyright, 260);
        wchar_t titleLine[260];
        wchar_t copyrightLine[260];
        CopyText(titleLine, 260, std::wstring(titleBase) + L" " + version);
        CopyText(copyrightLine, 260, std::wstring(copyright) + L", " + authorText);
        SendDlgItemMessageW(window, IDC_ABOUT_TITLE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(titleLine));
        SendDlgItemMessageW(window, IDC_ABOUT_COPYRIGHT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copyrightLine));
    }
    // Runs for the About box too: showing it empties the main window's bar
    // and takes the percentage out of its title.
    SetProgress(0, 0, 0);
    return true;
}

bool WindowHandler::OnLButtonDown(HWND window) {
    POINT cursor;
    GetCursorPos(&cursor);
    // SC_MOVE with HTCAPTION: the system drags the window as if by its caption.
    SendMessageW(window, WM_SYSCOMMAND, 0xF012, MAKELPARAM(cursor.x, cursor.y));
    return true;
}
