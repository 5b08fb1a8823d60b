#include "runner/StopSignals.h"

#include <csignal>
#include <cstdint>

#include "runner/Platform.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "the signal handler needs lock-free flags");
std::atomic<bool> stopRequested{false};
std::atomic<int> firstSignal{0};
std::atomic<uint32_t> firstSignalAt{0};  // its time, in platform::MonotonicMilliseconds

extern "C" void OnStopSignal(int signal) {
    int none = 0;
    if (firstSignal.compare_exchange_strong(none, signal)) {
        firstSignalAt.store(platform::MonotonicMilliseconds());
        stopRequested.store(true);
        return;
    }
    if (platform::MonotonicMilliseconds() - firstSignalAt.load() < 1000) return;
    platform::RemoveTemporaryFile();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

const std::atomic<bool>& InstallStopSignals() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    return stopRequested;
}

int FirstStopSignal() { return firstSignal.load(); }
