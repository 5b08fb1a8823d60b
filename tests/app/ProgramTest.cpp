// Vantrel.exe itself, started as its own process: its entry function, its
// window and how it ends.
#include "tests/support/MainDialog.h"

#include <functional>
#include <string>

#include "res/resource.h"

namespace {

struct Program {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
};

struct FindMain {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<FindMain*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == find->processId && IsWindowVisible(window) && GetDlgItem(window, IDC_GRID) != nullptr) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

// Starts the build's Vantrel.exe, which lies at app\ beside tests\app\.
bool StartProgram(Program& program) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    const size_t at = path.rfind(L"\\tests\\app\\");
    if (at == std::wstring::npos) return false;
    path = path.substr(0, at) + L"\\app\\Vantrel.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &program.process)) {
        return false;
    }
    FindMain find{program.process.dwProcessId, nullptr};
    for (int i = 0; i < 100 && find.found == nullptr; ++i) {
        Sleep(100);
        EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&find));
    }
    program.window = find.found;
    return program.window != nullptr;
}

struct SaveDialogSearch {
    DWORD processId;
    HWND found;
};

// The save dialog is a top-level dialog of the program with a file name field.
BOOL CALLBACK FindSaveDialog(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<SaveDialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == find->processId && IsWindowVisible(window) &&
        (GetDlgItem(window, 0x480) != nullptr || GetDlgItem(window, 0x47C) != nullptr)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForSaveDialog(const Program& program) {
    SaveDialogSearch find{program.process.dwProcessId, nullptr};
    for (int i = 0; i < 200 && find.found == nullptr; ++i) {
        Sleep(50);
        EnumWindows(FindSaveDialog, reinterpret_cast<LPARAM>(&find));
    }
    return find.found;
}

// Polls `done` every 50 ms, `tries` times at most; whether it came to hold.
bool SoonTrue(const std::function<bool()>& done, int tries) {
    for (int i = 0; i < tries; ++i) {
        Sleep(50);
        if (done()) return true;
    }
    return false;
}

DWORD WaitForExit(Program& program) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(program.process.hProcess, 5000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(program.process.hProcess, &code);
    } else {
        TerminateProcess(program.process.hProcess, 99);
    }
    CloseHandle(program.process.hProcess);
    CloseHandle(program.process.hThread);
    return code;
}

}  // namespace

TEST(Program, OpensWithItsTitleAndEndsWithCodeZeroWhenClosedDuringARun) {
    Program program;
    ASSERT_TRUE(StartProgram(program));
    EXPECT_EQ(WindowText(program.window), TITLE_BASE);
    // 10M primes with one thread: still running when the window is closed.
    SendDlgItemMessageW(program.window, IDC_TASK, CB_SETCURSEL, 7, 0);
    PostMessageW(program.window, WM_COMMAND, IDM_START, 0);
    EXPECT_TRUE(SoonTrue([&] { return WindowText(program.window).find(L"%)") != std::wstring::npos; }, 100));
    PostMessageW(program.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(program), 0u);
}

TEST(Program, ExitFromTheFileMenuEndsWithCodeZero) {
    Program program;
    ASSERT_TRUE(StartProgram(program));
    PostMessageW(program.window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(WaitForExit(program), 0u);
}

TEST(Program, ClosingOrExitWhileSavingEndsWithCodeZero) {
    for (const UINT how : {UINT(WM_CLOSE), UINT(WM_COMMAND)}) {
        Program program;
        ASSERT_TRUE(StartProgram(program));
        SendDlgItemMessageW(program.window, IDC_TASK, CB_SETCURSEL, 0, 0);  // 100K
        PostMessageW(program.window, WM_COMMAND, IDM_START, 0);
        // The menu lives in the program's process; its title and windows do not.
        ASSERT_TRUE(SoonTrue([&] { return WindowText(program.window) == TITLE_BASE L" (100.00%)" &&
                                          IsWindowEnabled(GetDlgItem(program.window, IDC_TASK)); }, 100));
        // Saving: the save dialog is open, and the main window still takes
        // the close, from the dialog's own message loop.
        PostMessageW(program.window, WM_COMMAND, how == WM_CLOSE ? IDM_SAVE_GRID : IDM_SAVE_PRIMES, 0);
        EXPECT_NE(WaitForSaveDialog(program), nullptr);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(program.window, IDC_TASK)));
        if (how == WM_CLOSE) {
            PostMessageW(program.window, WM_CLOSE, 0, 0);
        } else {
            PostMessageW(program.window, WM_COMMAND, IDM_EXIT, 0);
        }
        EXPECT_EQ(WaitForExit(program), 0u);
    }
}

// WM_QUIT ends the message loop without the window's say: the program must
// end as Exit does, not return from its entry and free what the writer reads.
TEST(Program, ClosingOrQuittingWhileTheWriterWritesEndsWithCodeZero) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring target = std::wstring(folder) + L"vantrel-close-while-writing.txt";
    for (const UINT how : {UINT(WM_CLOSE), UINT(WM_QUIT)}) {
        DeleteFileW(target.c_str());
        Program program;
        ASSERT_TRUE(StartProgram(program));
        SendDlgItemMessageW(program.window, IDC_TASK, CB_SETCURSEL, 2, 0);  // 1M: a 16 MB primes file
        PostMessageW(program.window, WM_COMMAND, IDM_START, 0);
        ASSERT_TRUE(SoonTrue([&] { return WindowText(program.window) == TITLE_BASE L" (100.00%)" &&
                                          IsWindowEnabled(GetDlgItem(program.window, IDC_TASK)); }, 200));
        PostMessageW(program.window, WM_COMMAND, IDM_SAVE_PRIMES, 0);
        HWND dialog = WaitForSaveDialog(program);
        ASSERT_NE(dialog, nullptr);
        HWND field = GetDlgItem(dialog, 0x480) != nullptr ? GetDlgItem(dialog, 0x480) : GetDlgItem(dialog, 0x47C);
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        // As soon as the file appears, while the writer is most likely at work.
        for (int i = 0; i < 400 && GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(5);
        PostMessageW(program.window, how, 0, 0);
        EXPECT_EQ(WaitForExit(program), 0u) << (how == WM_QUIT ? "WM_QUIT" : "WM_CLOSE");
    }
    DeleteFileW(target.c_str());
}
