// Saves as the export job reports them: its messages, its failure, its file names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Notify.h"
#include "export/FileManager.h"
#include "tests/support/Recording.h"
#include "tests/support/TestFiles.h"

inline Message Progress(uint32_t w, uint32_t l) { return {WM_SAVE_PROGRESS, w, l}; }
inline Message Finished(uint32_t w, uint32_t l) { return {WM_SAVE_FINISHED, w, l}; }

// Records every notification; on WM_SAVE_FINISHED it also takes the job's
// failure, as the program reads it on that message.
class SaveRecorder : public RecordingTarget {
public:
    std::string FailureAtFinish() {
        std::lock_guard<std::mutex> hold(lock);
        return failureAtFinish;
    }

    FileManager* job = nullptr;

private:
    void Recorded(const Message& m) override {
        if (m.message == WM_SAVE_FINISHED && job != nullptr) failureAtFinish = job->Failure();
    }

    std::string failureAtFinish;
};

// The wide form of a path as the program holds it. Linux file names are
// taken as UTF-8 whatever the locale.
inline std::wstring WidePath(const std::filesystem::path& path) {
#if defined(_WIN32)
    return path.wstring();
#else
    const std::string bytes = path.string();
    std::wstring wide;
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length && i + k < bytes.size(); ++k) code = (code << 6) | (bytes[i + k] & 0x3F);
        wide += wchar_t(code);
        i += length;
    }
    return wide;
#endif
}
