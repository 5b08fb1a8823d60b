#include "export/BatchWriter.h"

#include <new>
#include <system_error>

#include "export/OutputFile.h"

BatchWriter::BatchWriter(OutputFile& file_, bool background) : file(file_) {
    if (!background) return;
    try {
        thread = std::thread(&BatchWriter::Run, this);
    } catch (const std::system_error&) {
        // Without a thread of its own every batch is written in Submit.
    } catch (const std::bad_alloc&) {
        // No memory for the thread's state: the same, the buffers are there.
    }
}

BatchWriter::~BatchWriter() {
    if (!thread.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(lock);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

void BatchWriter::Submit(const char* data_, size_t size_) {
    if (!thread.joinable()) {
        result = file.Write(data_, size_);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        data = data_;
        size = size_;
        busy = true;
    }
    changed.notify_all();
}

bool BatchWriter::Wait() {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [this] { return !busy; });
    return result;
}

void BatchWriter::Run() {
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        changed.wait(hold, [this] { return stopping || data != nullptr; });
        if (data == nullptr) return;  // stopping, nothing left to write
        const char* const batch = data;
        const size_t bytes = size;
        data = nullptr;
        hold.unlock();
        const bool written = file.Write(batch, bytes);
        hold.lock();
        result = written;
        busy = false;
        changed.notify_all();
    }
}
