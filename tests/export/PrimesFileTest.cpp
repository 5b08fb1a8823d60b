#include <gmock/gmock.h>

#include <cstdio>
#include <thread>

#if defined(__linux__)
#include <csignal>
#include <sys/resource.h>
#endif

#include "export/FileManager.h"
#include "export/PrimesFile.h"
#include "tests/support/SaveRecorder.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

std::string LastLine(const std::string& text) {
    const size_t start = text.rfind('\n', text.size() - 3) + 1;  // npos + 1 is 0
    return text.substr(start, text.size() - 2 - start);
}

class PrimesFileTest : public ::testing::Test {
protected:
    void SetUp() override { target.job = &job; }

    // Runs one job the way the program does: the writer on a thread of its own.
    void Save(const std::filesystem::path& where, const uint32_t* items, uint32_t count,
              const BatchAllocator& allocate = nullptr) {
        job.SetPath(WidePath(where).c_str());
        job.items = items;
        job.itemCount = count;
        std::thread writer([this, &allocate] {
            if (allocate) {
                WritePrimesFileWith(&job, allocate);
            } else {
                WritePrimesFile(&job);
            }
        });
        writer.join();
    }

#if defined(__linux__)
    // A write that fails in the middle of a file of three or more batches: the
    // file may not grow past 12,000,000 bytes, inside the second batch of the
    // full buffers. The loop ends at the failed batch, and neither a progress
    // message nor the finish claims a line that did not reach the file.
    static constexpr rlim_t kLimit = 12000000;

    static const std::vector<uint32_t>& Primes() {
        static const std::vector<uint32_t> primes = FirstPrimes(1500000);  // 25 MB of text
        return primes;
    }

    // Saves the first `count` primes. Returns the bytes of the lines the job
    // claims to have written, after checking that they are in the file.
    size_t SaveOverTheLimit(uint32_t count, const BatchAllocator& allocate) {
        const uint32_t* const primes = Primes().data();
        rlimit old{};
        EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit limited = old;
        limited.rlim_cur = kLimit;
        // Beyond the limit a write fails with EFBIG instead of raising SIGXFSZ.
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const bool limitSet = setrlimit(RLIMIT_FSIZE, &limited) == 0;
        if (limitSet) Save(file, primes, count, allocate);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_TRUE(limitSet);

        EXPECT_THAT(target.FailureAtFinish(), HasSubstr("primes.txt"));
        const std::vector<Message> messages = target.Messages();
        // Started, at least one batch written, and the finish where the last progress stood.
        EXPECT_GE(messages.size(), 3u);
        if (messages.size() < 3) return 0;
        EXPECT_EQ(messages.front(), Progress(0, count));
        const Message last = messages[messages.size() - 2];
        EXPECT_EQ(messages.back(), Finished(last.wParam, count));
        for (size_t k = 1; k + 1 < messages.size(); ++k) {
            EXPECT_EQ(messages[k].message, WM_SAVE_PROGRESS);
            EXPECT_LT(messages[k - 1].wParam, messages[k].wParam);
        }
        // The position is the 0-based index of the last line written.
        const std::string claimed = PrimesText(primes, last.wParam + 1);
        const std::string text = ReadBytes(file);
        EXPECT_LE(claimed.size(), text.size());
        EXPECT_TRUE(SameText(text.substr(0, claimed.size()), claimed));
        return claimed.size();
    }
#endif

    TempFolder temp;
    SaveRecorder target;
    FileManager job{&target};
    std::filesystem::path file = temp.Path("primes.txt");
};

TEST_F(PrimesFileTest, NoItemsGiveAnEmptyFile) {
    WriteBytes(file, "old content");
    Save(file, nullptr, 0);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(ReadBytes(file), "");
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(0, 0), Progress(0, 0), Finished(0, 0)}));
    EXPECT_EQ(job.Failure(), "");
}

TEST_F(PrimesFileTest, OneItemIsFiveBytes) {
    const uint32_t two = 2;
    Save(file, &two, 1);
    EXPECT_EQ(ReadBytes(file), std::string("\x31\x2D\x32\x0D\x0A"));
    EXPECT_EQ(target.Messages(),
              (std::vector<Message>{Progress(0, 1), Progress(0, 1), Progress(1, 1), Finished(1, 1)}));
}

TEST_F(PrimesFileTest, StoppedRunKeepsItsSeedLines) {
    const std::vector<uint32_t> seeds = FirstPrimes(32);
    Save(file, seeds.data(), 31);
    const std::string text = ReadBytes(file);
    EXPECT_TRUE(SameText(text, PrimesText(seeds.data(), 31)));
    EXPECT_EQ(text.substr(0, 26), "1-2\r\n2-3\r\n3-5\r\n4-7\r\n5-11\r\n");
    EXPECT_EQ(LastLine(text), "31-127");
}

TEST_F(PrimesFileTest, HundredThousandInOneBatch) {
    const std::vector<uint32_t> primes = FirstPrimes(100000);
    Save(file, primes.data(), 100000);
    const std::string text = ReadBytes(file);
    EXPECT_EQ(text.size(), 1399379u);
    EXPECT_EQ(LastLine(text), "100000-1299709");
    EXPECT_TRUE(SameText(text, PrimesText(primes.data(), 100000)));
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(0, 100000), Progress(99999, 100000),
                                                        Progress(100000, 100000), Finished(100000, 100000)}));
}

TEST_F(PrimesFileTest, OneMillionInTwoBatches) {
    const std::vector<uint32_t> primes = FirstPrimes(1000000);
    // The split falls where a 16-byte line makes the counted batch exactly
    // 10,000,000 bytes: the lines up to 679,074 count 9,999,984.
    EXPECT_EQ(PrimesText(primes.data(), 679074).size() - 679074, 9999984u);
    Save(file, primes.data(), 1000000);
    const std::string text = ReadBytes(file);
    EXPECT_EQ(text.size(), 16134801u);
    EXPECT_EQ(LastLine(text), "1000000-15485863");
    EXPECT_TRUE(SameText(text, PrimesText(primes.data(), 1000000)));
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(0, 1000000), Progress(679073, 1000000),
                                                        Progress(999999, 1000000), Progress(1000000, 1000000),
                                                        Finished(1000000, 1000000)}));
}

TEST_F(PrimesFileTest, ExistingLongerFileIsReplaced) {
    WriteBytes(file, std::string(100000, 'x'));
    const std::vector<uint32_t> primes = FirstPrimes(40);
    Save(file, primes.data(), 40);
    EXPECT_TRUE(SameText(ReadBytes(file), PrimesText(primes.data(), 40)));
}

TEST_F(PrimesFileTest, SmallerBufferWhenTheFullOneIsRefused) {
    const std::vector<uint32_t> primes = FirstPrimes(1000000);
    std::vector<size_t> asked;
    Save(file, primes.data(), 1000000, [&asked](size_t bytes) {
        asked.push_back(bytes);
        return bytes > 1000000 ? nullptr : std::unique_ptr<char[]>(new char[bytes]);
    });
    EXPECT_TRUE(SameText(ReadBytes(file), PrimesText(primes.data(), 1000000)));
    EXPECT_EQ(job.Failure(), "");
    ASSERT_GE(asked.size(), 2u);
    EXPECT_LE(asked.back(), 1000000u);

    const std::vector<Message> messages = target.Messages();
    ASSERT_GE(messages.size(), 5u);  // more batches than with the full buffer
    EXPECT_EQ(messages.front(), Progress(0, 1000000));
    EXPECT_EQ(messages[messages.size() - 3], Progress(999999, 1000000));
    EXPECT_EQ(messages.back(), Finished(1000000, 1000000));
    for (size_t k = 1; k + 1 < messages.size(); ++k) EXPECT_LT(messages[k - 1].wParam, messages[k].wParam);
}

TEST_F(PrimesFileTest, NoMemoryAtAllLeavesTheFileAndSaysSo) {
    WriteBytes(file, "kept");
    const std::vector<uint32_t> primes = FirstPrimes(100);
    Save(file, primes.data(), 100, [](size_t) { return std::unique_ptr<char[]>(); });
    EXPECT_EQ(ReadBytes(file), "kept");
    EXPECT_THAT(target.FailureAtFinish(), HasSubstr("memory"));
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Finished(0, 100)}));
}

// Values that are no ascending run of primes break the assumption that a
// line is at most one byte longer than the one before; the buffer must still
// hold every line, even a small fallback buffer.
TEST_F(PrimesFileTest, ArbitraryValuesStillFitTheBuffer) {
    std::vector<uint32_t> values(200000);
    for (size_t i = 0; i < values.size(); ++i) values[i] = (i % 3 == 0) ? 4294967295u : uint32_t(i % 7);
    Save(file, values.data(), uint32_t(values.size()), [](size_t bytes) {
        return bytes > 10000 ? nullptr : std::unique_ptr<char[]>(new char[bytes]);
    });
    EXPECT_TRUE(SameText(ReadBytes(file), PrimesText(values.data(), uint32_t(values.size()))));
    EXPECT_EQ(target.Messages().back(), Finished(200000, 200000));
}

// Values counted up from the line before must gain their digits where the
// value crosses a power of ten, also by more than one in a single step.
TEST_F(PrimesFileTest, ValuesCrossingPowersOfTen) {
    std::vector<uint32_t> values = {0, 9, 1009, 1010, 9990, 10005, 19999, 29998, 39998, 39999};
    for (uint32_t start : {99999000u, 999999000u, 4294966000u}) {
        for (uint32_t v = start; v <= start + 1900 && v >= start; v += 97) values.push_back(v);
    }
    values.push_back(4294967295u);
    values.push_back(5);
    values.push_back(100000000);
    Save(file, values.data(), uint32_t(values.size()));
    EXPECT_TRUE(SameText(ReadBytes(file), PrimesText(values.data(), uint32_t(values.size()))));
}

TEST_F(PrimesFileTest, MissingFolderIsReportedAndNothingIsCreated) {
    const std::filesystem::path missing = temp.Path("missing") / "primes.txt";
    const std::vector<uint32_t> primes = FirstPrimes(10);
    Save(missing, primes.data(), 10);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_THAT(target.FailureAtFinish(), AllOf(HasSubstr("primes.txt"), HasSubstr("No such file or directory")));
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Finished(0, 10)}));
}

TEST_F(PrimesFileTest, NextJobStartsWithoutTheOldFailure) {
    const std::vector<uint32_t> primes = FirstPrimes(10);
    Save(temp.Path("missing") / "primes.txt", primes.data(), 10);
    ASSERT_NE(job.Failure(), "");
    Save(file, primes.data(), 10);
    EXPECT_EQ(job.Failure(), "");
    EXPECT_EQ(target.FailureAtFinish(), "");
}

TEST_F(PrimesFileTest, NonAsciiFileName) {
    const std::filesystem::path named = temp.Path(std::filesystem::path(u8"Primzahlen \u00e4\u00df \u4e2d.txt"));
    const std::vector<uint32_t> primes = FirstPrimes(5);
    Save(named, primes.data(), 5);
    EXPECT_EQ(job.Failure(), "");
    EXPECT_TRUE(SameText(ReadBytes(named), PrimesText(primes.data(), 5)));
}

#if defined(__linux__)
// A full disk: the writer stops, says why, and never claims the full count.
void ExpectFullDiskReported(SaveRecorder& target, uint32_t count) {
    EXPECT_THAT(target.FailureAtFinish(), AllOf(HasSubstr("No space left on device"), HasSubstr("/dev/full")));
    const std::vector<Message> messages = target.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().message, WM_SAVE_FINISHED);
    for (size_t k = 0; k + 1 < messages.size(); ++k) {
        EXPECT_EQ(messages[k].message, WM_SAVE_PROGRESS);
        EXPECT_LT(messages[k].wParam, count);
    }
    EXPECT_LT(messages.back().wParam, count);
}

TEST_F(PrimesFileTest, FullDiskOnABatchWrite) {
    const std::vector<uint32_t> primes = FirstPrimes(100000);
    Save("/dev/full", primes.data(), 100000);
    ExpectFullDiskReported(target, 100000);
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(0, 100000), Finished(0, 100000)}));
}

TEST_F(PrimesFileTest, TwoBuffersStopAfterTheFirstBatch) {
    const uint32_t count = 1500000;  // three batches
    EXPECT_EQ(SaveOverTheLimit(count, nullptr), 10679058u);
    EXPECT_EQ(target.Messages(),
              (std::vector<Message>{Progress(0, count), Progress(679073, count), Finished(679073, count)}));
}

TEST_F(PrimesFileTest, OneSmallBufferStopsAtTheLastBatchThatFitted) {
    // No room for the full buffers: one of about 3 MB, written batch by
    // batch: four reach the file, the fifth fails.
    const size_t claimed = SaveOverTheLimit(1000000, [](size_t bytes) {
        return bytes > 4000000 ? nullptr : std::unique_ptr<char[]>(new char[bytes]);
    });
    EXPECT_GT(claimed, kLimit - 4000000);
}

TEST_F(PrimesFileTest, FullDiskFoundOnlyAtClose) {
    const uint32_t two = 2;
    Save("/dev/full", &two, 1);
    ExpectFullDiskReported(target, 1);
}
#endif

}  // namespace
