#include "tests/support/SaveDialogDriver.h"

#include <utility>

namespace {

constexpr int kFileNameEdit = 0x480;
constexpr int kFileNameCombo = 0x47C;

BOOL CALLBACK FindSaveDialog(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && std::wstring(className) == L"#32770" &&
        (GetDlgItem(window, kFileNameEdit) != nullptr || GetDlgItem(window, kFileNameCombo) != nullptr)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindBoxOwnedBy(HWND window, LPARAM search) {
    auto* s = reinterpret_cast<OwnedSearch*>(search);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (GetWindow(window, GW_OWNER) == s->owner && IsWindowVisible(window) && std::wstring(className) == L"#32770") {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND WaitForSaveDialog(DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        HWND found = nullptr;
        EnumWindows(FindSaveDialog, reinterpret_cast<LPARAM>(&found));
        if (found != nullptr) return found;
        Sleep(50);
    }
    return nullptr;
}

HWND FileNameField(HWND dialog) {
    HWND field = GetDlgItem(dialog, kFileNameEdit);
    return field != nullptr ? field : GetDlgItem(dialog, kFileNameCombo);
}

std::wstring FileNameText(HWND dialog) {
    wchar_t text[300] = {};
    SendMessageW(FileNameField(dialog), WM_GETTEXT, 300, reinterpret_cast<LPARAM>(text));
    return text;
}

void TypeFileName(HWND dialog, const std::wstring& name) {
    SendMessageW(FileNameField(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

void Press(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

HWND WaitForQuestion(HWND dialog) {
    for (DWORD waited = 0; waited < kDialogWaitMs; waited += 50) {
        OwnedSearch search{dialog, nullptr};
        EnumWindows(FindBoxOwnedBy, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        Sleep(50);
    }
    return nullptr;
}

SaveDialogDriver::SaveDialogDriver(std::function<void(HWND)> user, DWORD appearMs)
    : thread([this, appearMs, user = std::move(user)] {
          HWND dialog = WaitForSaveDialog(appearMs);
          if (dialog == nullptr) return;
          seen = true;
          shownName = FileNameText(dialog);
          user(dialog);
          for (DWORD waited = 0; waited < kDialogWaitMs && IsWindow(dialog); waited += 50) Sleep(50);
          if (IsWindow(dialog)) Press(dialog, IDCANCEL);
      }) {}

SaveDialogDriver::~SaveDialogDriver() { thread.join(); }
