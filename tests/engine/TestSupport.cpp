#include "tests/engine/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

void BlockingTarget::Notify(uint32_t message, uint32_t wParam, uint32_t lParam) {
    Pending item{{message, wParam, lParam}};
    std::unique_lock<std::mutex> lock(mutex);
    pending.push_back(&item);
    changed.notify_all();
    if (!changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return item.handled; })) {
        ADD_FAILURE() << "notification " << message << " was not served";
        pending.erase(std::find(pending.begin(), pending.end(), &item));
    }
}

size_t BlockingTarget::Serve() {
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

bool BlockingTarget::WaitPending(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !pending.empty(); });
}

std::vector<Message> BlockingTarget::Delivered() {
    std::lock_guard<std::mutex> lock(mutex);
    return delivered;
}

bool BlockingTarget::HasPendingFinish() {
    std::lock_guard<std::mutex> lock(mutex);
    for (const Pending* item : pending) {
        if (item->message.message == WM_SEARCH_FINISHED) return true;
    }
    return false;
}
