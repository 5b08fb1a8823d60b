#include "cli/ResultSaver.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include "cli/SaveFileName.h"
#include "export/FileManager.h"
#include "export/TextEncoding.h"

namespace {

namespace fs = std::filesystem;

// Creates `file`, empty, unless something of that name is there: 0 or errno.
int CreateNew(const fs::path& file) {
#if defined(_WIN32)
    const int handle = _wopen(file.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (handle < 0) return errno;
    _close(handle);
#else
    const int handle = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (handle < 0) return errno;
    close(handle);
#endif
    return 0;
}

#if !defined(_WIN32)
// The temporary file being written, for RemoveSaveInProgress. A signal may
// come on any thread at any time, so a name goes into the buffer not in use
// before it is published.
char pendingNames[2][4096];
int nextPending = 0;
std::atomic<const char*> pending{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "the signal handler reads it");
#endif

void Publish(const fs::path& file) {
#if !defined(_WIN32)
    if (file.native().size() >= sizeof pendingNames[0]) return;
    char* const buffer = pendingNames[nextPending];
    nextPending ^= 1;
    std::memcpy(buffer, file.c_str(), file.native().size() + 1);
    pending.store(buffer);
#else
    (void)file;
#endif
}

void Withdraw() {
#if !defined(_WIN32)
    pending.store(nullptr);
#endif
}

}  // namespace

void RemoveSaveInProgress() {
#if !defined(_WIN32)
    if (const char* file = pending.exchange(nullptr)) unlink(file);
#endif
}

ResultSaver::ResultSaver(std::ostream& err, bool liveProgress) : progress(err, liveProgress) {}

std::string ResultSaver::SavePrimes(const std::string& name, const uint32_t* primes, uint32_t count) {
    return Save(name, WritePrimesFile, [primes, count](FileManager& job) {
        job.items = primes;
        job.itemCount = count;
    });
}

std::string ResultSaver::SaveGrid(const std::string& name, IGridSource& rows) {
    return Save(name, WriteGridFile, [&rows](FileManager& job) { job.gridView = &rows; });
}

void ResultSaver::Notify(uint32_t message, uint32_t wParam, uint32_t lParam) {
    if (message == WM_SAVE_PROGRESS && lParam != 0) {
        const uint64_t percent = uint64_t(wParam) * 100 / lParam;
        progress.Show("Saving " + shownName + ": " + std::to_string(percent > 100 ? 100 : percent) + "%");
    } else if (message == WM_SAVE_FINISHED) {
        finished = true;
        complete = wParam == lParam;
    }
}

std::string ResultSaver::Save(const std::string& name, void (*writer)(void*),
                              const std::function<void(FileManager&)>& fill) {
    shownName = OneLine(name);
    const std::string unusable = "Could not save \"" + shownName + "\": the file name cannot be used";
    if (!JobPathOf(name)) return unusable;

    // A regular file, or none yet, is replaced; anything else is written to
    // (or refused) as it stands.
    const fs::path target = SaveTargetOf(name);
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    const bool replace = !fs::exists(status) || fs::is_regular_file(status);
    fs::path written = FilePathOf(name);
    if (replace) {
        std::random_device random;
        const auto now = uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
        int failed = EEXIST;
        for (int attempt = 0; attempt < 16 && failed == EEXIST; ++attempt) {
            written = TemporaryFileOf(target, uint32_t(random()) ^ now);
            failed = CreateNew(written);
        }
        if (failed != 0) return "Could not open \"" + shownName + "\": " + SystemReason(failed);
        Publish(written);
    }

    std::string failure;
    const std::optional<std::wstring> path = JobPathOfFile(written);
    FileManager job(this);
    if (path) job.SetPath(path->c_str());
#if !defined(_WIN32)
    // The writers open the job's name as UTF-8; it must be this very file.
    if (path && job.PathText() != written.string()) failure = unusable;
#endif
    if (!path) failure = TemporaryNameProblem(name);
    if (failure.empty()) {
        fill(job);
        finished = false;
        complete = false;
        writer(&job);
        progress.Clear();
        failure = job.Failure();
        if (failure.empty() && !finished) failure = "Could not save \"" + shownName + "\": the writer ended without finishing";
        if (failure.empty() && !complete) failure = "Could not save \"" + shownName + "\"";
        // The writers name the file they wrote: the temporary one.
        const std::string writtenText = job.PathText();
        const size_t at = failure.find('"' + writtenText + '"');
        if (replace && at != std::string::npos) failure.replace(at + 1, writtenText.size(), name);
    }

    if (replace && failure.empty()) {
        // The new file keeps the old one's permissions.
        if (fs::exists(status)) fs::permissions(written, status.permissions(), error);
        fs::rename(written, target, error);
        if (error) failure = "Could not save \"" + shownName + "\": " + error.message();
    }
    if (replace && !failure.empty()) fs::remove(written, error);
    Withdraw();
    return OneLine(failure);
}
