// The runner on Linux (and other POSIX systems).
#include "runner/Platform.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include "export/TextEncoding.h"

namespace platform {

namespace {

// The temporary file being written, for RemoveTemporaryFile. A signal may
// come on any thread at any time, so a name goes into the buffer not in use
// before it is published.
char pendingNames[2][4096];
int nextPending = 0;
std::atomic<const char*> pending{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "the signal handler reads it");

std::atomic<StopHandler> stopHandler{nullptr};

void Publish(const std::filesystem::path& file) {
    if (file.native().size() >= sizeof pendingNames[0]) return;
    char* const buffer = pendingNames[nextPending];
    nextPending ^= 1;
    std::memcpy(buffer, file.c_str(), file.native().size() + 1);
    pending.store(buffer);
}

extern "C" void OnSignal(int signal, siginfo_t* info, void*) {
    // kill() and sigqueue() name their sender; the terminal's Ctrl-C and a
    // hang-up come from the kernel.
    const bool byProcess = info != nullptr && (info->si_code == SI_USER || info->si_code == SI_QUEUE);
    if (const StopHandler handler = stopHandler.load()) handler(signal, byProcess ? long(info->si_pid) : kSystemSender);
}

}  // namespace

std::string OperatingSystem() {
    std::string text;
    utsname name{};
    if (uname(&name) == 0) {
        text = std::string(name.sysname) + " " + name.release + " " + name.machine;
    } else {
        text = "unknown";
    }
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        const std::string key = "PRETTY_NAME=";
        if (line.compare(0, key.size(), key) == 0) {
            std::string pretty = line.substr(key.size());
            if (pretty.size() >= 2 && pretty.front() == '"' && pretty.back() == '"') pretty = pretty.substr(1, pretty.size() - 2);
            text += " (" + pretty + ")";
            break;
        }
    }
    return text;
}

std::string HostName() {
    char name[256] = {};
    // A name as long as the buffer may come without its terminator.
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

namespace {

size_t TerminalColumns(int descriptor) {
    winsize size{};
    return ioctl(descriptor, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace

Terminals StandardTerminals() {
    const char* term = std::getenv("TERM");
    const bool controls = term == nullptr || std::strcmp(term, "dumb") != 0;
    Terminals terminals;
    if (isatty(STDOUT_FILENO) != 0) {
        terminals.out = controls;
        if (const size_t columns = TerminalColumns(STDOUT_FILENO); columns > 0) terminals.helpWidth = columns;
    }
    terminals.err = StderrIsTerminal();
    terminals.errControls = terminals.err && controls;
    terminals.errColumns = [] { return TerminalColumns(STDERR_FILENO); };
    terminals.noColor = std::getenv("NO_COLOR");
    return terminals;
}

uint32_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);  // safe in a signal handler
    return uint32_t(now.tv_sec) * 1000u + uint32_t(now.tv_nsec / 1000000);
}

std::optional<std::wstring> WideFileName(const std::string& name) { return Utf8ToWide(name); }

std::optional<std::wstring> WidePath(const std::filesystem::path& file) { return WideFileName(file.string()); }

const char* FileNameEncoding() { return " in UTF-8"; }

std::filesystem::path PathOfFileName(const std::string& name) { return std::filesystem::path(name); }

int FolderWriteProblem(const std::filesystem::path& folder) {
    return access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

int FileWriteProblem(const std::filesystem::path& file) { return access(file.c_str(), W_OK) == 0 ? 0 : errno; }

bool JobNamesFile(const std::string& jobText, const std::filesystem::path& file) { return jobText == file.string(); }

void InstallStopHandlers(StopHandler handler) {
    stopHandler.store(handler);
    struct sigaction action {};
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    sigaction(SIGTERM, &action, nullptr);
    // Ignored when the program starts, they stay ignored: nohup's SIGHUP,
    // and the SIGINT a shell leaves ignored for a job it starts in the
    // background (`vantrel-cli ... &`), whose Ctrl-C is meant for another.
    for (const int signal : {SIGINT, SIGHUP}) {
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }
}

bool IsHangUp(int signal) { return signal == SIGHUP; }

void IgnoreClosedPipes() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void EndBySignal(int signal) {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(signal, &standard, nullptr);
    // Blocked while its handler runs: it ends the process as the handler returns.
    raise(signal);
}

int CreateTemporaryFile(const std::filesystem::path& file) {
    // The save runs on the main thread, the only one then: a stop signal
    // waits until the file is created and published.
    sigset_t stops;
    sigset_t before;
    sigemptyset(&stops);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
    pthread_sigmask(SIG_BLOCK, &stops, &before);
    const int handle = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    const int error = handle < 0 ? errno : 0;
    if (handle >= 0) {
        close(handle);
        Publish(file);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return error;
}

void WithdrawTemporaryFile() { pending.store(nullptr); }

void RemoveTemporaryFile() {
    if (const char* file = pending.exchange(nullptr)) unlink(file);
}

}  // namespace platform
