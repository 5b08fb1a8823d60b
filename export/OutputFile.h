// The file a writer fills: binary, so every build writes the same bytes, and
// every failure recorded on the job.
#pragma once

#include <cstddef>
#include <cstdio>

class FileManager;

class OutputFile {
public:
    explicit OutputFile(FileManager& job);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // closes a file still open, as after a failed write

    // Creates the file at the job's path, or empties it if it exists.
    bool Open();

    // Writes all `size` bytes or records why not. Nothing is written after a
    // failure.
    bool Write(const void* data, size_t size);

    // Closes the file; a failure to flush what remained is recorded. True
    // when every byte reached the system.
    bool Close();

private:
    void Fail(const char* what, int error);

    FileManager& job;
    FILE* file = nullptr;
    bool failed = false;
};
