#include "runner/ResultSaver.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <random>

#include "engine/Text.h"
#include "export/FileManager.h"
#include "export/TextEncoding.h"
#include "runner/Platform.h"
#include "runner/SaveFileName.h"

namespace fs = std::filesystem;

void RemoveSaveInProgress() { platform::RemoveTemporaryFile(); }

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
            failed = platform::CreateTemporaryFile(written);
        }
        if (failed != 0) return "Could not open \"" + shownName + "\": " + SystemReason(failed);
    }

    std::string failure;
    const std::optional<std::wstring> path = JobPathOfFile(written);
    FileManager job(this);
    if (path) job.SetPath(path->c_str());
    // The job must name this very file.
    if (path && !platform::JobNamesFile(job.PathText(), written)) failure = unusable;
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
    platform::WithdrawTemporaryFile();
    return OneLine(failure);
}
