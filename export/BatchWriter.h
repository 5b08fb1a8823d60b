// Hands finished batches to a thread that writes them, so that the next
// batch is formatted while the last one goes to the file.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

class OutputFile;

// One batch at a time is in flight: Submit, then Wait before the next
// Submit. Batches reach the file whole, in the order submitted, each with one
// write. Without `background`, or when no thread can be started, Submit
// writes the batch itself.
class BatchWriter {
public:
    BatchWriter(OutputFile& file, bool background);
    BatchWriter(const BatchWriter&) = delete;
    BatchWriter& operator=(const BatchWriter&) = delete;
    ~BatchWriter();

    // The bytes must stay untouched until Wait has returned.
    void Submit(const char* data, size_t size);

    // Waits until the batch submitted last is written; false when it was
    // not (the failure is recorded on the job).
    bool Wait();

private:
    void Run();

    OutputFile& file;
    std::mutex lock;
    std::condition_variable changed;
    const char* data = nullptr;  // under lock: the batch to write, null when none
    size_t size = 0;
    bool busy = false;   // under lock: a batch is submitted and not yet written
    bool result = true;  // under lock: whether the last batch was written
    bool stopping = false;
    std::thread thread;
};
