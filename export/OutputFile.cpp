#include "export/OutputFile.h"

#include <cerrno>
#include <string>

#include "export/FileManager.h"
#include "export/TextEncoding.h"

OutputFile::OutputFile(FileManager& job_) : job(job_) {}

OutputFile::~OutputFile() {
    if (file != nullptr) std::fclose(file);
}

bool OutputFile::Open() {
    if (job.path == nullptr || job.path[0] == 0) {
        failed = true;
        job.RecordFailure("No file name was given to save to.");
        return false;
    }
    errno = 0;
#if defined(_WIN32)
    file = _wfopen(job.path, L"wb");
#else
    file = std::fopen(job.PathText().c_str(), "wb");
#endif
    if (file == nullptr) {
        Fail("open", errno);
        return false;
    }
    return true;
}

bool OutputFile::Write(const void* data, size_t size) {
    if (file == nullptr || failed) return false;
    if (size == 0) return true;
    errno = 0;
    if (std::fwrite(data, 1, size, file) != size) {
        Fail("write", errno);
        return false;
    }
    return true;
}

bool OutputFile::Close() {
    if (file == nullptr) return false;
    errno = 0;
    const int result = std::fclose(file);
    const int error = errno;
    file = nullptr;
    if (result != 0) Fail("write", error);
    return !failed;
}

void OutputFile::Fail(const char* what, int error) {
    failed = true;
    std::string why = std::string("Could not ") + what + " \"" + job.PathText() + "\"";
    if (error != 0) why += ": " + SystemReason(error);
    job.RecordFailure(why);
}
