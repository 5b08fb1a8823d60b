// Saves the primes of a run or the rows of an invocation with the export
// writers, called on this thread (the primes writer writes its batches on a
// helper thread of its own and reports on this one).
//
// A regular file is written under a temporary name in its folder and renamed
// over the target once it is complete and closed, so the target holds either
// the whole new file or what it held before. A device or pipe is written as
// it stands.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "runner/ProgressLine.h"
#include "engine/Notify.h"

class FileManager;
class IGridSource;

class ResultSaver final : private INotifyTarget {
public:
    // err takes the progress line "Saving 45%: FILE" when liveProgress is set.
    ResultSaver(std::ostream& err, bool liveProgress);
    // The console's err, as the console says.
    explicit ResultSaver(const Console& console);
    ResultSaver(const ResultSaver&) = delete;
    ResultSaver& operator=(const ResultSaver&) = delete;
    ~ResultSaver() override = default;

    // Each writes the whole file and returns an empty string, or returns one
    // line naming the file and the reason it could not; then nothing of the
    // save is left behind.
    std::string SavePrimes(const std::string& name, const uint32_t* primes, uint32_t count);
    std::string SaveGrid(const std::string& name, IGridSource& rows);

private:
    std::string Save(const std::string& name, void (*writer)(void*), const std::function<void(FileManager&)>& fill);
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override;

    ProgressLine progress;
    std::string shownName;  // the file saved now, as the progress line names it
    bool finished = false;  // WM_SAVE_FINISHED arrived for the save under way,
    bool complete = false;  // saying that every item was written
};

// Removes the temporary file of a save under way, if any: for a signal
// handler about to end the process. Async-signal-safe; does nothing on
// Windows, where the writer holds the file open.
void RemoveSaveInProgress();
