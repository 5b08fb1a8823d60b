// A notification target that records what the engine or a writer sends, and
// the bounded waits of the tests that read it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "engine/Notify.h"

// How long a test waits for the engine or a writer: ample for a 100K search
// (0.05 s natively, under a second with the thread sanitizer on a loaded
// machine), short enough that one that never ends fails the suite in minutes,
// not hours. A 1M search on 2 threads (0.5 s natively, 5 to 8 s with the
// thread sanitizer on a loaded machine) waits kLongWaitMs.
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

struct Message {
    uint32_t message;
    uint32_t wParam;
    uint32_t lParam;
    bool operator==(const Message&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Message& m) {
    const char* name = m.message == WM_SEARCH_PROGRESS   ? "SEARCH_PROGRESS"
                       : m.message == WM_SEARCH_FINISHED ? "SEARCH_FINISHED"
                       : m.message == WM_SAVE_PROGRESS   ? "PROGRESS"
                       : m.message == WM_SAVE_FINISHED   ? "FINISHED"
                                                         : "?";
    return out << name << "(" << m.wParam << ", " << m.lParam << ")";
}

// Records every notification, from any thread, and lets a test wait for them.
class RecordingTarget : public INotifyTarget {
public:
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        std::lock_guard<std::mutex> hold(lock);
        messages.push_back({message, wParam, lParam});
        Recorded(messages.back());
        changed.notify_all();
    }
    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> hold(lock);
        return messages;
    }
    // Waits until the last message is a finish (of a search or a save);
    // false after the timeout.
    bool WaitFinished(int timeoutMs = kWaitMs) {
        return Wait(timeoutMs, [this] {
            return !messages.empty() &&
                   (messages.back().message == WM_SEARCH_FINISHED || messages.back().message == WM_SAVE_FINISHED);
        });
    }
    // Waits until at least n messages have arrived; false after the timeout.
    bool WaitCount(size_t n, int timeoutMs = kWaitMs) {
        return Wait(timeoutMs, [this, n] { return messages.size() >= n; });
    }

protected:
    // Called under the lock with each message, on the notifying thread.
    virtual void Recorded(const Message&) {}
    std::mutex lock;

private:
    template <class Done>
    bool Wait(int timeoutMs, Done done) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), done);
    }

    std::condition_variable changed;
    std::vector<Message> messages;
};
