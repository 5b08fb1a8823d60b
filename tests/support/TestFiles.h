// Files in tests: a private temporary folder, files read and written whole,
// the text a primes file must hold, and a comparison of long texts that says
// where they part instead of printing them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Primes.h"

// What a grid file begins with.
inline const std::string kBom = "\xEF\xBB\xBF";

// A folder of its own under the system's temporary folder, removed with
// everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        folder = std::filesystem::temp_directory_path() /
                 ("vantrel-test-" + std::to_string(random()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(folder);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::filesystem::path Path(const std::filesystem::path& name) const { return folder / name; }

    std::filesystem::path folder;
};

// The whole file, empty when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return std::string();
    std::string bytes(size_t(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    return bytes;
}

// The lines of `text`, without their ends.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The primes file of the first `count` items: "1-2\r\n2-3\r\n...".
inline std::string PrimesText(const uint32_t* items, uint32_t count) {
    std::string text;
    char line[32];
    for (uint32_t i = 0; i < count; ++i) {
        const int length = std::snprintf(line, sizeof line, "%lu-%lu\r\n", static_cast<unsigned long>(i) + 1,
                                         static_cast<unsigned long>(items[i]));
        text.append(line, size_t(length));
    }
    return text;
}

// Whether two texts are equal; when not, their sizes and the first line in
// which they differ. Texts of megabytes are compared this way: GoogleTest's
// own message for two unequal strings is a diff of every line.
inline ::testing::AssertionResult SameText(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    const size_t common = std::min(actual.size(), expected.size());
    size_t at = 0;
    while (at < common && actual[at] == expected[at]) ++at;
    const size_t start = at == 0 ? 0 : actual.rfind('\n', at - 1) + 1;  // npos + 1 is 0
    const size_t lineNumber = size_t(std::count(actual.begin(), actual.begin() + std::ptrdiff_t(start), '\n')) + 1;
    auto lineOf = [start](const std::string& text) {
        if (start >= text.size()) return std::string("(the end)");
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, std::min<size_t>(end - start, 200));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return "\"" + line + "\"";
    };
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                         << " were expected; they part in line " << lineNumber << " (byte " << at
                                         << "): " << lineOf(actual) << " instead of " << lineOf(expected);
}
