#include "app/WindowNotifier.h"

void WindowNotifier::Notify(uint32_t message, uint32_t wParam, uint32_t lParam) {
    // Primes above 2^31 travel in the signed LPARAM bit for bit; the handlers
    // read them back as unsigned.
    SendMessageW(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(static_cast<int32_t>(lParam)));
}

void ServeSentMessages() {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}
