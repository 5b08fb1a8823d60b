#include <gtest/gtest.h>

#include "export/FileManager.h"
#include "tests/support/SaveRecorder.h"

TEST(FileManager, SetPathStartsANewJob) {
    RecordingTarget target;
    FileManager job(&target);
    EXPECT_EQ(job.path, nullptr);
    EXPECT_EQ(job.notifyWindow, &target);

    job.SetPath(L"Vantrel 2.0 (100M) with a long name");
    const uint32_t table[1] = {2};
    job.items = table;
    job.itemCount = 1;
    job.RecordFailure("old failure");
    wchar_t* const buffer = job.path;
    job.SetPath(L"T(Grid)");
    EXPECT_EQ(job.path, buffer);  // kept for every later job
    EXPECT_EQ(job.items, nullptr);
    EXPECT_EQ(job.itemCount, 0u);
    EXPECT_EQ(job.gridView, nullptr);
    EXPECT_EQ(job.Failure(), "");
    EXPECT_EQ(std::wstring(job.path), L"T(Grid)");
    // Nothing of the longer name survives behind the new one.
    for (size_t i = 7; i < FileManager::kPathUnits; ++i) ASSERT_EQ(job.path[i], L'\0') << i;
}

TEST(FileManager, OverlongNameIsCutInsideTheBuffer) {
    FileManager job(nullptr);
    const std::wstring name(400, L'n');
    job.SetPath(name.c_str());
    EXPECT_EQ(std::wstring(job.path), name.substr(0, FileManager::kPathUnits - 1));
}
