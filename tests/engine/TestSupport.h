// Helpers of the engine tests: the search's messages and a target that
// delivers them only when the waiting thread serves it. The recording target,
// the waits and the sieve come from tests/support.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Notify.h"
#include "tests/support/Primes.h"
#include "tests/support/Recording.h"

// The tests keep their coordinators on the heap. ThreadSanitizer knows a lock
// by its address and is never told that a std::mutex on the stack has gone (its
// destructor does nothing), so the engine's locks of one test and a target's
// lock of the next, placed at the same stack address, would merge into one
// lock whose orders form a cycle that no run can take. A freed heap object's
// locks are forgotten.

inline Message Progress(uint32_t w, uint32_t l) { return {WM_SEARCH_PROGRESS, w, l}; }
inline Message Finished(uint32_t w, uint32_t l) { return {WM_SEARCH_FINISHED, w, l}; }

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
