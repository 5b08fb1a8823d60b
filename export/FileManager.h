// The export job: what is to be written, where to, and who hears about it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/Notify.h"
#include "export/GridSource.h"

// One job is filled per save and read by the writer (WritePrimesFile or
// WriteGridFile) on a thread of its own; the kind of job is fixed by which
// writer runs. The job borrows the primes table or the grid for as long as
// the write lasts and never copies them: the caller keeps both unchanged
// until WM_SAVE_FINISHED has arrived.
class FileManager {
public:
    static constexpr size_t kPathUnits = 260;

    explicit FileManager(INotifyTarget* notifyWindow);
    FileManager(const FileManager&) = delete;
    FileManager& operator=(const FileManager&) = delete;
    virtual ~FileManager();

    // Starts a new job: clears the source fields and the recorded failure and
    // puts `name` (the default file name, or a full path) into `path`. A name
    // longer than kPathUnits - 1 units is cut to fit.
    void SetPath(const wchar_t* name);

#if defined(_WIN32)
    // Runs the system's save-file dialog on the calling (UI) thread. True: the
    // chosen full path is in `path`. False: no file was chosen, and
    // WM_SAVE_FINISHED (0, 0) has already been sent to notifyWindow.
    bool RunSaveDialog();
#endif

    // Why the last job failed, in UTF-8, naming the file and the system's
    // reason; empty when it succeeded. Set by the writer before its
    // WM_SAVE_FINISHED, so it can be read when that message arrives.
    std::string Failure() const;

    // Keeps the first failure of a job; later ones are consequences of it.
    void RecordFailure(const std::string& why);

    // The file name as UTF-8, for messages and for opening the file where
    // file names are narrow.
    std::string PathText() const;

    wchar_t* path = nullptr;      // kPathUnits units once the first job set it
    INotifyTarget* notifyWindow;  // receives WM_SAVE_PROGRESS and WM_SAVE_FINISHED
    const uint32_t* items = nullptr;   // primes job: the primes table, slot 0 first
    uint32_t itemCount = 0;            // primes job: the slots to write
    IGridSource* gridView = nullptr;   // grid job: the rows

private:
    mutable std::mutex failureLock;
    std::string failure;
};

// Entries of the writer threads; the argument is the FileManager. Each
// returns at once, sending nothing, when it is null.
void WritePrimesFile(void* job);
void WriteGridFile(void* job);
