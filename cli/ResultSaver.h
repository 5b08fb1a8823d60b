// Saves the primes of a run or the rows of an invocation with the export
// writers, each on a writer thread of its own, as the Windows program saves.
//
// Threads: the writer calls Notify on its thread; Notify only records the
// message and wakes the calling thread, which prints the progress and waits
// for WM_SAVE_FINISHED before it reads the job's failure.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

#include "engine/Notify.h"

class FileManager;
class IGridSource;

class ResultSaver final : private INotifyTarget {
public:
    // err takes the progress line, rewritten in place, when liveProgress is set.
    ResultSaver(std::ostream& err, bool liveProgress);
    ResultSaver(const ResultSaver&) = delete;
    ResultSaver& operator=(const ResultSaver&) = delete;
    ~ResultSaver() override = default;

    // Each writes the whole file and returns an empty string, or returns one
    // line naming the file and the reason it could not. A regular file that
    // a failed save created or emptied is removed, so that no incomplete file
    // is left looking like a complete one.
    std::string SavePrimes(const std::string& name, const uint32_t* primes, uint32_t count);
    std::string SaveGrid(const std::string& name, IGridSource& rows);

private:
    std::string Save(const std::string& name, void (*writer)(void*), const std::function<void(FileManager&)>& fill);
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    void ShowProgress(const std::string& name, uint32_t position, uint32_t total);
    void ClearProgress();

    std::ostream& err;
    bool liveProgress;
    size_t shown = 0;  // characters of the progress line on the terminal

    std::mutex lock;
    std::condition_variable arrived;
    // Under lock, for the save under way:
    bool progressed = false;        // a WM_SAVE_PROGRESS arrived: the file was opened
    bool progressPending = false;   // one arrived that is not shown yet
    uint32_t position = 0;          // the latest WM_SAVE_PROGRESS
    uint32_t total = 0;
    bool finished = false;          // WM_SAVE_FINISHED arrived
    uint32_t finishedPosition = 0;
    uint32_t finishedTotal = 0;
    bool returned = false;          // the writer's entry has returned
};
