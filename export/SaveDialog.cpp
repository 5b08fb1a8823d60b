// The system's save-file dialog (Windows only).
#include <windows.h>
#include <commdlg.h>

#include "export/FileManager.h"

// The record as the program has always passed it: the full size, including
// pvReserved, dwReserved and FlagsEx (88 bytes in a 32-bit program, 152 in a
// 64-bit one).
static_assert(sizeof(OPENFILENAMEW) == (sizeof(void*) == 8 ? 152 : 88), "OPENFILENAMEW must be the full record");

bool FileManager::RunSaveDialog() {
    if (path == nullptr) path = new wchar_t[kPathUnits]();
    path[kPathUnits - 1] = 0;

    OPENFILENAMEW request;
    ZeroMemory(&request, sizeof request);
    request.lStructSize = sizeof request;
    // The literal's own terminator ends the list with its second zero.
    request.lpstrFilter = L"Text files (*.txt)\0*.txt\0";
    request.lpstrFile = path;
    request.nMaxFile = kPathUnits - 1;
    request.Flags = OFN_OVERWRITEPROMPT;
    request.lpstrDefExt = L"txt";
    // No owner: the main window stays usable (Exit, About) while the dialog is open.
    if (GetSaveFileNameW(&request) != 0) return true;

    // Cancelled or failed alike: the UI waits for this message to leave its
    // saving state, and it arrives before this call returns.
    if (notifyWindow != nullptr) notifyWindow->Notify(WM_SAVE_FINISHED, 0, 0);
    return false;
}
