// Helpers of the export tests: a notification recorder and file names as the
// program holds them. Folders, files and primes come from tests/support.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Notify.h"
#include "export/FileManager.h"
#include "tests/support/TestFiles.h"

struct Message {
    uint32_t message;
    uint32_t wParam;
    uint32_t lParam;
    bool operator==(const Message&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Message& m) {
    const char* name = m.message == WM_SAVE_PROGRESS ? "PROGRESS" : m.message == WM_SAVE_FINISHED ? "FINISHED" : "?";
    return out << name << "(" << m.wParam << ", " << m.lParam << ")";
}

inline Message Progress(uint32_t w, uint32_t l) { return {WM_SAVE_PROGRESS, w, l}; }
inline Message Finished(uint32_t w, uint32_t l) { return {WM_SAVE_FINISHED, w, l}; }

// Records every notification; on WM_SAVE_FINISHED it also takes the job's
// failure, as the program reads it on that message.
class RecordingTarget : public INotifyTarget {
public:
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        std::lock_guard<std::mutex> hold(lock);
        messages.push_back({message, wParam, lParam});
        if (message == WM_SAVE_FINISHED && job != nullptr) failureAtFinish = job->Failure();
    }
    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> hold(lock);
        return messages;
    }
    std::string FailureAtFinish() {
        std::lock_guard<std::mutex> hold(lock);
        return failureAtFinish;
    }

    FileManager* job = nullptr;

private:
    std::mutex lock;
    std::vector<Message> messages;
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
