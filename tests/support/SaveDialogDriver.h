// A user at the system's save-file dialog, played from a second thread while
// the UI thread sits in the dialog's modal loop.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

// How long a test waits for a dialog to appear or to close: Wine takes a
// second or two to open the save dialog.
constexpr DWORD kDialogWaitMs = 10000;

// The save dialog of this process once it is shown, or null after the timeout.
HWND WaitForSaveDialog(DWORD timeoutMs);
// The file name field of the explorer-style dialog (edt1), or the combo box
// (cmb13) that some versions show instead.
HWND FileNameField(HWND dialog);
std::wstring FileNameText(HWND dialog);
void TypeFileName(HWND dialog, const std::wstring& name);
// Presses a button of a dialog or message box (IDOK, IDCANCEL, IDYES...).
void Press(HWND dialog, int button);
// The question a dialog asks in a box of its own (replace the file?), or null.
HWND WaitForQuestion(HWND dialog);

// Waits, on a thread of its own, for a save dialog of this process and hands
// it to `user`. Whatever `user` does, a dialog still open some seconds later
// is cancelled, so the UI thread's command always returns. A test that
// expects no dialog waits `appearMs` for it in vain.
class SaveDialogDriver {
public:
    explicit SaveDialogDriver(std::function<void(HWND dialog)> user, DWORD appearMs = kDialogWaitMs);
    ~SaveDialogDriver();  // joins
    SaveDialogDriver(const SaveDialogDriver&) = delete;
    SaveDialogDriver& operator=(const SaveDialogDriver&) = delete;

    bool seen = false;
    std::wstring shownName;  // the file name the dialog opened with

private:
    std::thread thread;
};
