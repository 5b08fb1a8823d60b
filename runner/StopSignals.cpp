#include "runner/StopSignals.h"

#include <csignal>
#include <cstdint>

#include "runner/ExitCodes.h"
#include "runner/Platform.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<long>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free,
              "the signal handler needs lock-free flags");
std::atomic<bool> stopRequested{false};
std::atomic<int> firstSignal{0};
std::atomic<long> firstSender{0};
std::atomic<uint32_t> firstSignalAt{0};  // its time, in platform::MonotonicMilliseconds
std::atomic<bool> firstRecorded{false};  // the three above are set

constexpr uint32_t kRepeatMilliseconds = 1000;

// Whether a signal after the first is that request arriving once more.
bool Repeats(int signal, long sender) {
    if (platform::MonotonicMilliseconds() - firstSignalAt.load() >= kRepeatMilliseconds) return false;
    if (sender == platform::kUnknownSender) return true;
    return sender != platform::kSystemSender && sender == firstSender.load() && signal == firstSignal.load();
}

void OnStopSignal(int signal, long sender) {
    // The reader of the report's pipe (tee, say) has had the same Ctrl-C, or
    // went with the terminal: what is still to be written must not end the
    // process before its results are saved and stored.
    platform::IgnoreClosedPipes();
    int none = 0;
    if (firstSignal.compare_exchange_strong(none, signal)) {
        firstSender.store(sender);
        firstSignalAt.store(platform::MonotonicMilliseconds());
        firstRecorded.store(true);
        stopRequested.store(true);
        return;
    }
    // Another thread may be recording the first signal: a few instructions.
    while (!firstRecorded.load()) {
    }
    if (platform::IsHangUp(signal) || Repeats(signal, sender)) return;
    platform::RemoveTemporaryFile();
    platform::EndBySignal(signal);
}

}  // namespace

const std::atomic<bool>& InstallStopSignals() {
    platform::InstallStopHandlers(OnStopSignal);
    return stopRequested;
}

int FirstStopSignal() { return firstSignal.load(); }

std::string StopName() {
    const int signal = FirstStopSignal();
    if (signal == SIGTERM) return "SIGTERM";
    if (platform::IsHangUp(signal)) return "a hang-up (SIGHUP)";
    return "Ctrl-C";
}

int StopExitCode(int code) {
    if (code != kExitInterrupted) return code;
    const int signal = FirstStopSignal();
    if (signal == SIGTERM) return kExitTerminated;
    return platform::IsHangUp(signal) ? kExitHangUp : kExitInterrupted;
}
