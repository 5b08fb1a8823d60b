#include "runner/SaveFileName.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/Text.h"
#include "export/FileManager.h"
#include "export/TextEncoding.h"
#include "runner/Platform.h"

namespace {

std::string Problem(const std::string& name, int error) {
    return "Could not open \"" + OneLine(name) + "\": " + SystemReason(error);
}

// The job's form of a wide name: not empty, short enough, and no terminator
// inside it, which would cut it short in the job.
std::optional<std::wstring> Fitting(std::optional<std::wstring> wide) {
    if (!wide || wide->empty() || wide->size() > FileManager::kPathUnits - 1 || wide->find(L'\0') != std::wstring::npos) {
        return std::nullopt;
    }
    return wide;
}

}  // namespace

std::optional<std::wstring> JobPathOf(const std::string& name) {
    if (name.empty()) return std::nullopt;
    return Fitting(platform::WideFileName(name));
}

std::optional<std::wstring> JobPathOfFile(const std::filesystem::path& file) { return Fitting(platform::WidePath(file)); }

std::filesystem::path TemporaryFileOf(const std::filesystem::path& target, uint32_t tag) {
    char name[32] = {};
    std::snprintf(name, sizeof name, ".vantrel-%08x.tmp", unsigned(tag));
    return target.parent_path() / name;
}

std::filesystem::path FilePathOf(const std::string& name) { return platform::PathOfFileName(name); }

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
    // The folder must let a new file in; an existing file must let itself be written.
    if (const int problem = replaced ? platform::FolderWriteProblem(folder) : 0; problem != 0) return Problem(name, problem);
    if (const int problem = fs::exists(fileStatus) ? platform::FileWriteProblem(file) : 0; problem != 0) {
        return Problem(name, problem);
    }
    if (replaced && !JobPathOfFile(TemporaryFileOf(file, 0))) return TemporaryNameProblem(name);
    return {};
}

std::string TemporaryNameProblem(const std::string& name) {
    return "Could not save \"" + OneLine(name) + "\": the name of its temporary file in the same folder would not fit in " +
           std::to_string(FileManager::kPathUnits - 1) + " characters";
}

std::string NotARegularFile(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code error;
    switch (fs::status(file, error).type()) {
        case fs::file_type::directory: return "it is a folder";
        case fs::file_type::fifo: return "it is a FIFO";
        case fs::file_type::block:
        case fs::file_type::character: return "it is a device";
        case fs::file_type::socket: return "it is a socket";
        default: return {};
    }
}
