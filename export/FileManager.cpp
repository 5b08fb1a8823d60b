#include "export/FileManager.h"

#include <algorithm>

#include "export/TextEncoding.h"

FileManager::FileManager(INotifyTarget* notifyWindow_) : notifyWindow(notifyWindow_) {}

FileManager::~FileManager() { delete[] path; }

void FileManager::SetPath(const wchar_t* name) {
    if (path == nullptr) path = new wchar_t[kPathUnits]();
    items = nullptr;
    itemCount = 0;
    gridView = nullptr;
    {
        std::lock_guard<std::mutex> hold(failureLock);
        failure.clear();
    }
    std::fill(path, path + kPathUnits, L'\0');
    if (name == nullptr) return;
    // The last unit stays zero, so the name always ends inside the buffer.
    for (size_t i = 0; i + 1 < kPathUnits && name[i] != 0; ++i) path[i] = name[i];
}

std::string FileManager::Failure() const {
    std::lock_guard<std::mutex> hold(failureLock);
    return failure;
}

void FileManager::RecordFailure(const std::string& why) {
    std::lock_guard<std::mutex> hold(failureLock);
    if (failure.empty()) failure = why;
}

std::string FileManager::PathText() const { return WideToUtf8(path, kPathUnits); }
