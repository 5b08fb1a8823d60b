// The runner on Linux (and other POSIX systems).
#include "runner/Platform.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include "export/TextEncoding.h"
#include "runner/Text.h"

namespace platform {

namespace {

// The temporary file being written, for RemoveTemporaryFile. A signal may
// come on any thread at any time, so a name goes into the buffer not in use
// before it is published.
char pendingNames[2][4096];
int nextPending = 0;
std::atomic<const char*> pending{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "the signal handler reads it");

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

std::string CpuModelOfSystem() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        // "model name" on x86, "Model" or "Hardware" elsewhere.
        for (const char* key : {"model name", "Model", "Hardware"}) {
            if (line.compare(0, std::strlen(key), key) == 0) {
                const size_t colon = line.find(':');
                if (colon != std::string::npos) return Trimmed(line.substr(colon + 1));
            }
        }
    }
    return {};
}

std::string HostName() {
    char name[256] = {};
    // A name as long as the buffer may come without its terminator.
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

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

int CreateNewFile(const std::filesystem::path& file) {
    const int handle = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (handle < 0) return errno;
    close(handle);
    return 0;
}

bool JobNamesFile(const std::string& jobText, const std::filesystem::path& file) { return jobText == file.string(); }

void PublishTemporaryFile(const std::filesystem::path& file) {
    if (file.native().size() >= sizeof pendingNames[0]) return;
    char* const buffer = pendingNames[nextPending];
    nextPending ^= 1;
    std::memcpy(buffer, file.c_str(), file.native().size() + 1);
    pending.store(buffer);
}

void WithdrawTemporaryFile() { pending.store(nullptr); }

void RemoveTemporaryFile() {
    if (const char* file = pending.exchange(nullptr)) unlink(file);
}

}  // namespace platform
