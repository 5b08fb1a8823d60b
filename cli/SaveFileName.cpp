#include "cli/SaveFileName.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "export/FileManager.h"
#include "export/TextEncoding.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#if !defined(_WIN32)
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
// Anything else would come back from the job as a different name.
std::optional<std::wstring> DecodeUtf8(const std::string& text) {
    std::wstring wide;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        uint32_t code = 0;
        size_t extra = 0;
        uint32_t least = 0;
        if (lead < 0x80) {
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1Fu;
            extra = 1;
            least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0Fu;
            extra = 2;
            least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07u;
            extra = 3;
            least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (text.size() - i <= extra) return std::nullopt;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) return std::nullopt;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
        wide.push_back(static_cast<wchar_t>(code));
        i += extra + 1;
    }
    return wide;
}
#endif

std::string Problem(const std::string& name, int error) {
    return "Could not open \"" + OneLine(name) + "\": " + SystemReason(error);
}

}  // namespace

std::optional<std::wstring> JobPathOf(const std::string& name) {
    if (name.empty()) return std::nullopt;
#if defined(_WIN32)
    // The runner's arguments come in the ANSI code page; a character it
    // cannot hold would have been replaced with a look-alike by then.
    const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), nullptr, 0);
    if (units <= 0) return std::nullopt;
    std::wstring wide(size_t(units), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), wide.data(), units);
#else
    std::optional<std::wstring> decoded = DecodeUtf8(name);
    if (!decoded) return std::nullopt;
    std::wstring wide = std::move(*decoded);
#endif
    // A terminator inside the name would cut it short in the job.
    if (wide.size() > FileManager::kPathUnits - 1 || wide.find(L'\0') != std::wstring::npos) return std::nullopt;
    return wide;
}

std::optional<std::wstring> JobPathOfFile(const std::filesystem::path& file) {
#if defined(_WIN32)
    const std::wstring wide = file.wstring();
    if (wide.empty() || wide.size() > FileManager::kPathUnits - 1 || wide.find(L'\0') != std::wstring::npos) {
        return std::nullopt;
    }
    return wide;
#else
    return JobPathOf(file.string());
#endif
}

std::filesystem::path TemporaryFileOf(const std::filesystem::path& target, uint32_t tag) {
    char name[32] = {};
    std::snprintf(name, sizeof name, ".vantrel-%08x.tmp", unsigned(tag));
    return target.parent_path() / name;
}

std::filesystem::path FilePathOf(const std::string& name) {
#if defined(_WIN32)
    if (const std::optional<std::wstring> wide = JobPathOf(name)) return std::filesystem::path(*wide);
#endif
    return std::filesystem::path(name);
}

std::filesystem::path SaveTargetOf(const std::string& name) {
    namespace fs = std::filesystem;
    fs::path file = FilePathOf(name);
    std::error_code error;
    // A bounded number of links, as the system follows them.
    for (int links = 0; links < 40 && fs::is_symlink(fs::symlink_status(file, error)); ++links) {
        const fs::path target = fs::read_symlink(file, error);
        if (error) break;
        file = file.parent_path() / target;  // not normalized: ".." may leave a linked folder
    }
    return file;
}

bool NameTheSameFile(const std::string& first, const std::string& second) {
    namespace fs = std::filesystem;
    const fs::path a = SaveTargetOf(first);
    const fs::path b = SaveTargetOf(second);
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    const fs::path fullA = fs::weakly_canonical(fs::absolute(a, error), error);
    if (error) return a.lexically_normal() == b.lexically_normal();
    const fs::path fullB = fs::weakly_canonical(fs::absolute(b, error), error);
    return !error && fullA == fullB;
}

std::string SaveTargetProblem(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path file = SaveTargetOf(name);
    fs::path folder = file.parent_path();
    if (folder.empty()) folder = ".";

    std::error_code error;
    const fs::file_status folderStatus = fs::status(folder, error);
    if (!fs::exists(folderStatus)) return Problem(name, ENOENT);
    if (!fs::is_directory(folderStatus)) return Problem(name, ENOTDIR);
    const fs::file_status fileStatus = fs::status(file, error);
    if (fs::is_directory(fileStatus)) return Problem(name, EISDIR);
    const bool replaced = !fs::exists(fileStatus) || fs::is_regular_file(fileStatus);
#if !defined(_WIN32)
    // The folder must let a new file in; an existing file must let itself be written.
    if (replaced && access(folder.c_str(), W_OK | X_OK) != 0) return Problem(name, errno);
    if (fs::exists(fileStatus) && access(file.c_str(), W_OK) != 0) return Problem(name, errno);
#endif
    if (replaced && !JobPathOfFile(TemporaryFileOf(file, 0))) return TemporaryNameProblem(name);
    return {};
}

std::string TemporaryNameProblem(const std::string& name) {
    return "Could not save \"" + OneLine(name) + "\": the name of its temporary file in the same folder would not fit in " +
           std::to_string(FileManager::kPathUnits - 1) + " characters";
}

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text;
}
