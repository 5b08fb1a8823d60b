// The file names a save takes, and what stops a save before anything is written.
#include <gmock/gmock.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "export/TextEncoding.h"
#include "runner/SaveFileName.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

TEST(SaveFileName, JobPathsKeepTheNameOrRefuseIt) {
    EXPECT_EQ(JobPathOf("results/primes.txt"), std::wstring(L"results/primes.txt"));
    EXPECT_EQ(JobPathOf(std::string(259, 'a'))->size(), 259u);
    EXPECT_FALSE(JobPathOf(std::string(260, 'a')));
    EXPECT_FALSE(JobPathOf(""));
    EXPECT_FALSE(JobPathOf(std::string("a\0b", 3)));
#if !defined(_WIN32)
    // Characters, not bytes, count; bytes that are no UTF-8 would name another file.
    EXPECT_EQ(JobPathOf("gr\xC3\xBC\xC3\x9F.txt"), std::wstring(L"gr\u00FC\u00DF.txt"));
    std::string accented;
    for (int i = 0; i < 130; ++i) accented += "\xC3\xA9";
    EXPECT_EQ(JobPathOf(std::string(129, 'a') + accented)->size(), 259u);
    EXPECT_FALSE(JobPathOf(std::string(130, 'a') + accented));
    for (const char* bad : {"\xFF.txt", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(JobPathOf(bad)) << bad;
    }
#endif
}

TEST(SaveFileName, ProblemsAreFoundBeforeAnythingIsWritten) {
    TempFolder temp;
    EXPECT_EQ(SaveTargetProblem(temp.Path("primes.txt").string()), "");
    EXPECT_FALSE(fs::exists(temp.Path("primes.txt").string()));

    const std::string missing = temp.Path("no-such-folder/primes.txt").string();
    EXPECT_EQ(SaveTargetProblem(missing), "Could not open \"" + missing + "\": " + SystemReason(ENOENT));
    EXPECT_EQ(SaveTargetProblem(temp.folder.string()),
              "Could not open \"" + temp.folder.string() + "\": " + SystemReason(EISDIR));
    std::ofstream(temp.Path("plain").string()) << "x";
    const std::string underFile = temp.Path("plain").string() + "/primes.txt";
    EXPECT_THAT(SaveTargetProblem(underFile), ::testing::HasSubstr(underFile));
    EXPECT_FALSE(fs::exists(temp.Path("no-such-folder").string()));
}

}  // namespace
