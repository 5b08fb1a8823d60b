// Entry of the Windows program: creates the main dialog and runs the message
// loop. The program ends through ExitProcess, whether its window is closed or
// the loop ends.
#include <windows.h>

#include "app/Platform.h"
#include "app/WindowHandler.h"
#include "res/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    EnableSse2Math();
    InitCommonControlClasses();
    windowHandler.instance = instance;
    HWND window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), GetDesktopWindow(), MainDialogProc, 0);
    if (window == nullptr) {
        // Without its window the program could never be closed: say why it stops.
        MessageBoxW(nullptr, L"The main window could not be created.", L"Vantrel", MB_OK | MB_ICONERROR);
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);

    MSG message;
    // GetMessageW returns -1 on failure: stop then rather than spin.
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // WM_QUIT (posted by anyone) or a failing GetMessageW: end the way Exit
    // does. Returning would run the static destructors, which free the primes
    // table and the save path while a writer thread may still read them.
    windowHandler.EndProcess();
}
