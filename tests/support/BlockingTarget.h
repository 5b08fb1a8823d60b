// A notification target that delivers only when the waiting thread serves it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "engine/Notify.h"
#include "tests/support/Recording.h"

// Delivers a notification only when the waiting thread serves it, like
// SendMessageW to a window whose thread is not pumping: the sending worker
// stays blocked in Notify until Serve() runs on the test's thread. One that
// waits kWaitMs unserved fails the test and goes on, so that an engine wait
// that does not serve fails instead of hanging.
class BlockingTarget : public INotifyTarget {
public:
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        Pending item{{message, wParam, lParam}};
        std::unique_lock<std::mutex> lock(mutex);
        pending.push_back(&item);
        changed.notify_all();
        if (!changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return item.handled; })) {
            ADD_FAILURE() << "notification " << message << " was not served";
            pending.erase(std::find(pending.begin(), pending.end(), &item));
        }
    }

    // Handles every pending notification; returns how many.
    size_t Serve() {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        while (!pending.empty()) {
            Pending* item = pending.front();
            pending.pop_front();
            delivered.push_back(item->message);
            item->handled = true;
            ++n;
        }
        if (n > 0) changed.notify_all();
        return n;
    }

    // Waits (without serving) until a notification is pending.
    bool WaitPending(int timeoutMs = kWaitMs) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !pending.empty(); });
    }

    std::vector<Message> Delivered() {
        std::lock_guard<std::mutex> lock(mutex);
        return delivered;
    }

    bool HasPendingFinish() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::any_of(pending.begin(), pending.end(),
                           [](const Pending* item) { return item->message.message == WM_SEARCH_FINISHED; });
    }

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
