// Shared helpers for the engine tests: an independent sieve and notification
// targets that record what the engine sends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Notify.h"

// How long a test waits for the engine: ample for a 100K search (0.05 s
// natively, under a second with the thread sanitizer on a loaded machine),
// short enough that a search that never ends fails the suite in a few
// minutes. A 1M search on 2 threads (0.5 s natively, 5 to 8 s with the thread
// sanitizer on a loaded machine) waits kLongWaitMs.
constexpr int kWaitMs = 10000;
constexpr int kLongWaitMs = 30000;

// Polls until done() holds, at most kWaitMs; returns done().
template <class Done>
bool WaitUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// The primes below `limit`, by a plain sieve that shares nothing with the engine.
std::vector<uint32_t> SievePrimes(uint32_t limit);

struct Message {
    uint32_t message;
    uint32_t wParam;
    uint32_t lParam;
    bool operator==(const Message&) const = default;
};

inline Message Progress(uint32_t w, uint32_t l) { return {WM_SEARCH_PROGRESS, w, l}; }
inline Message Finished(uint32_t w, uint32_t l) { return {WM_SEARCH_FINISHED, w, l}; }

// Records every notification and lets a test wait for the finish.
class RecordingTarget : public INotifyTarget {
public:
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    std::vector<Message> Messages();
    // Waits until WM_SEARCH_FINISHED has arrived; false after the timeout.
    bool WaitFinished(int timeoutMs = kWaitMs);
    // Waits until at least n messages have arrived; false after the timeout.
    bool WaitCount(size_t n, int timeoutMs = kWaitMs);

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Message> messages;
};

// Delivers a notification only when the waiting thread serves it, like
// SendMessageW to a window whose thread is not pumping: the sending worker
// stays blocked in Notify until Serve() runs on the test's thread. One that
// waits kWaitMs unserved fails the test and goes on, so that an engine wait
// that does not serve fails instead of hanging.
class BlockingTarget : public INotifyTarget {
public:
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    // Handles every pending notification; returns how many.
    size_t Serve();
    // Waits (without serving) until a notification is pending.
    bool WaitPending(int timeoutMs = kWaitMs);
    std::vector<Message> Delivered();
    bool HasPendingFinish();

private:
    struct Pending {
        Message message;
        bool handled = false;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Pending*> pending;
    std::vector<Message> delivered;
};
