#include "tests/engine/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

std::vector<uint32_t> SievePrimes(uint32_t limit) {
    std::vector<bool> composite(limit, false);
    std::vector<uint32_t> primes;
    for (uint64_t i = 2; i < limit; ++i) {
        if (composite[i]) continue;
        primes.push_back(uint32_t(i));
        for (uint64_t j = i * i; j < limit; j += i) composite[j] = true;
    }
    return primes;
}

void RecordingTarget::Notify(uint32_t message, uint32_t wParam, uint32_t lParam) {
    std::lock_guard<std::mutex> lock(mutex);
    messages.push_back({message, wParam, lParam});
    changed.notify_all();
}

std::vector<Message> RecordingTarget::Messages() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages;
}

bool RecordingTarget::WaitFinished(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return !messages.empty() && messages.back().message == WM_SEARCH_FINISHED;
    });
}

bool RecordingTarget::WaitCount(size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return messages.size() >= n; });
}

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
