// Shared helpers of the export tests: a notification recorder, a private
// temporary folder and a primes table from a sieve.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/Notify.h"
#include "export/FileManager.h"

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

// A folder of its own under the system's temporary folder, removed with
// everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        folder = std::filesystem::temp_directory_path() /
                 ("vantrel-export-" + std::to_string(random()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(folder);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::filesystem::path Path(const std::filesystem::path& name) const { return folder / name; }

    std::filesystem::path folder;
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

inline std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return std::string();
    std::string bytes(size_t(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    return bytes;
}

inline void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The first `count` primes.
inline std::vector<uint32_t> FirstPrimes(uint32_t count) {
    std::vector<uint32_t> primes;
    uint32_t limit = 1024;
    while (primes.size() < count) {
        primes.clear();
        limit *= 2;
        std::vector<bool> composite(limit + 1);
        for (uint32_t n = 2; n <= limit && primes.size() < count; ++n) {
            if (composite[n]) continue;
            primes.push_back(n);
            for (uint64_t m = uint64_t(n) * n; m <= limit; m += n) composite[m] = true;
        }
    }
    return primes;
}
