// A folder of its own under the system's temporary folder, removed with
// everything in it when the test is done.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

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

    std::string Path(const std::string& name) const { return (folder / name).string(); }

    std::filesystem::path folder;
};
