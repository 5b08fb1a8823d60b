#include "cli/ResultSaver.h"

#include <filesystem>
#include <system_error>
#include <thread>

#include "cli/SaveFileName.h"
#include "export/FileManager.h"
#include "export/TextEncoding.h"

namespace {

namespace fs = std::filesystem;

bool IsRegularFile(const fs::path& file) {
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(file, error));
}

bool Exists(const fs::path& file) {
    std::error_code error;
    return fs::exists(fs::symlink_status(file, error));
}

}  // namespace

ResultSaver::ResultSaver(std::ostream& err_, bool liveProgress_) : err(err_), liveProgress(liveProgress_) {}

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
    {
        std::lock_guard<std::mutex> guard(lock);
        if (message == WM_SAVE_PROGRESS) {
            progressed = true;
            progressPending = true;
            position = wParam;
            total = lParam;
        } else if (message == WM_SAVE_FINISHED) {
            finished = true;
            finishedPosition = wParam;
            finishedTotal = lParam;
        } else {
            return;
        }
    }
    arrived.notify_one();
}

std::string ResultSaver::Save(const std::string& name, void (*writer)(void*),
                              const std::function<void(FileManager&)>& fill) {
    const std::optional<std::wstring> path = JobPathOf(name);
    if (!path) return "Could not save \"" + OneLine(name) + "\": the file name cannot be used";
    const fs::path file = FilePathOf(name);
    const bool existed = Exists(file);

    {
        std::lock_guard<std::mutex> guard(lock);
        progressed = false;
        progressPending = false;
        position = 0;
        total = 0;
        finished = false;
        finishedPosition = 0;
        finishedTotal = 0;
        returned = false;
    }
    FileManager job(this);
    job.SetPath(path->c_str());
#if !defined(_WIN32)
    // The writers open the job's name as UTF-8; it must be this very name.
    if (job.PathText() != name) return "Could not save \"" + OneLine(name) + "\": the file name cannot be used";
#endif
    fill(job);

    std::thread thread;
    try {
        thread = std::thread([this, writer, &job] {
            writer(&job);
            {
                std::lock_guard<std::mutex> guard(lock);
                returned = true;
            }
            arrived.notify_one();
        });
    } catch (const std::system_error& e) {
        return "Could not start saving \"" + OneLine(name) + "\": " + e.code().message();
    }

    bool opened = false;
    bool done = false;
    uint32_t donePosition = 0;
    uint32_t doneTotal = 0;
    for (;;) {
        bool show = false;
        uint32_t at = 0;
        uint32_t of = 0;
        bool ended = false;
        {
            std::unique_lock<std::mutex> guard(lock);
            arrived.wait(guard, [this] { return progressPending || finished || returned; });
            show = progressPending;
            progressPending = false;
            at = position;
            of = total;
            opened = progressed;
            done = finished;
            donePosition = finishedPosition;
            doneTotal = finishedTotal;
            ended = finished || returned;
        }
        if (show) ShowProgress(name, at, of);
        if (ended) break;
    }
    thread.join();
    ClearProgress();

    std::string failure = job.Failure();
    if (failure.empty() && !done) failure = "Could not save \"" + job.PathText() + "\": the writer ended without finishing";
    if (failure.empty() && donePosition != doneTotal) failure = "Could not save \"" + job.PathText() + "\"";
    if (failure.empty()) return {};

    // The writer opens the file before its first progress message; a file
    // that was not there before was created by this save.
    if ((opened || !existed) && IsRegularFile(file)) {
        std::error_code error;
        if (fs::remove(file, error)) failure += " (the incomplete file was removed)";
    }
    return OneLine(failure);
}

void ResultSaver::ShowProgress(const std::string& name, uint32_t at, uint32_t of) {
    if (!liveProgress || of == 0) return;
    const uint64_t percent = uint64_t(at) * 100 / of;
    const std::string text = "Saving " + OneLine(name) + ": " + std::to_string(percent > 100 ? 100 : percent) + "%";
    err << '\r' << text;
    if (text.size() < shown) err << std::string(shown - text.size(), ' ');
    err.flush();
    shown = text.size();
}

void ResultSaver::ClearProgress() {
    if (shown == 0) return;
    err << '\r' << std::string(shown, ' ') << '\r';
    err.flush();
    shown = 0;
}
