// Vantrel.exe itself, started as its own process: its entry function, its
// window and how it ends.
#include "AppTestSupport.h"

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
    for (int i = 0; i < 300 && find.found == nullptr; ++i) {
        Sleep(100);
        EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&find));
    }
    program.window = find.found;
    return program.window != nullptr;
}

DWORD WaitForExit(Program& program) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(program.process.hProcess, 15000) == WAIT_OBJECT_0) {
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
    EXPECT_EQ(WindowText(program.window), L"Vantrel@x86");
    // 10M primes with one thread: still running when the window is closed.
    SendDlgItemMessageW(program.window, IDC_TASK, CB_SETCURSEL, 7, 0);
    PostMessageW(program.window, WM_COMMAND, IDM_START, 0);
    bool progressShown = false;
    for (int i = 0; i < 200 && !progressShown; ++i) {
        Sleep(50);
        progressShown = WindowText(program.window).find(L"%)") != std::wstring::npos;
    }
    EXPECT_TRUE(progressShown);
    PostMessageW(program.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(program), 0u);
}

TEST(Program, ExitFromTheFileMenuEndsWithCodeZero) {
    Program program;
    ASSERT_TRUE(StartProgram(program));
    PostMessageW(program.window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(WaitForExit(program), 0u);
}
