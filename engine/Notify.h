// Notifications from the portable core to whoever shows them.
#pragma once

#include <cstdint>
#include <functional>

// The four private window messages of the program. The core sends them through
// INotifyTarget; the Windows program forwards them with SendMessageW to its main
// window, the runner records or prints them. Parameters are unsigned 32-bit:
// primes above 2^31 occur.
constexpr uint32_t WM_SEARCH_FINISHED = 1124;  // WM_USER + 100: (N - 1, N-th prime)
constexpr uint32_t WM_SEARCH_PROGRESS = 1125;  // WM_USER + 101: (lastIndex - 1, prime in that slot)
constexpr uint32_t WM_SAVE_PROGRESS = 1126;    // WM_USER + 102: (position, total)
constexpr uint32_t WM_SAVE_FINISHED = 1127;    // WM_USER + 103: (total, total), or (0, 0) when no file was chosen

// Receives notifications synchronously: Notify returns only once the receiver
// has handled the message, exactly like SendMessageW. It is called on worker
// and writer threads, sometimes while the engine lock is held, so an
// implementation must never wait for the engine.
class INotifyTarget {
public:
    virtual ~INotifyTarget() = default;
    virtual void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) = 0;
};

// Called over and over by a thread that waits for worker threads to end. A
// target that delivers only on the waiting thread (a window's SendMessageW
// reaches the UI thread only while it pumps) serves its pending notifications
// here; otherwise a worker blocked in Notify could never end. Each call may
// block briefly but must return.
using WaitHook = std::function<void()>;
