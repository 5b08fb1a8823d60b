// Runs and saves from the menu, end to end: the real main dialog, the real
// engine, the real save dialog (driven from a second thread) and the real
// writers, with every notification arriving by SendMessageW.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "app/Platform.h"
#include "res/resource.h"
#include "tests/support/MainDialog.h"
#include "tests/support/SaveDialogDriver.h"
#include "tests/support/TestFiles.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

std::vector<std::wstring> problems;
void RecordProblem(HWND, const wchar_t* text) { problems.emplace_back(text); }

// The threads of this process, as the system counts them.
int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// The primes file of the first n primes.
std::string PrimesFileText(uint32_t n) {
    const std::vector<uint32_t> primes = FirstPrimes(n);
    return PrimesText(primes.data(), n);
}

class RunCommandsTest : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        problems.clear();
        problemSink = RecordProblem;
        // Never shown: a shown window takes Wine seconds to destroy without a
        // window manager, and nothing here needs it on screen.
        Open(2);
        grid = Item(IDC_GRID);
    }
    void TearDown() override {
        MainDialogTest::TearDown();
        problemSink = ShowProblemBox;
        writerStackSize = 0;
    }

    void Select(int task, int threads) {
        SendMessageW(Item(IDC_TASK), CB_SETCURSEL, static_cast<WPARAM>(task), 0);
        SendMessageW(Item(IDC_THREADS), CB_SETCURSEL, static_cast<WPARAM>(threads), 0);
    }
    void Command(UINT id) { SendMessageW(window, WM_COMMAND, id, 0); }

    // Saves through the dialog to the file `name`.
    void SaveAs(UINT command, const std::wstring& name) {
        SaveDialogDriver user([&](HWND dialog) {
            TypeFileName(dialog, name);
            Press(dialog, IDOK);
        });
        Command(command);
    }

    // Starts the selected task and serves its messages until it has finished.
    void RunToTheEnd() {
        const int row = handler->currentRow;
        Command(IDM_START);
        ASSERT_TRUE(PumpUntil([&] { return handler->currentRow == row + 1; }));
    }

    // Saving ends with WM_SAVE_FINISHED, which makes Start usable again.
    bool PumpUntilSaved() {
        return PumpUntil([&] { return !MenuGrayed(window, IDM_START); });
    }

    bool NoWorkerThread() const {
        for (PrimeFinder* finder : handler->manager->finders) {
            if (finder->thread.joinable()) return false;
        }
        return true;
    }

    HWND grid = nullptr;
    TempFolder temp;
};

constexpr int k100K = 0;
constexpr int k1M = 2;
constexpr int kOneThread = 0;
constexpr int kTwoThreads = 1;

}  // namespace

TEST_F(RunCommandsTest, HundredThousandWithOneThenTwoThreads) {
    EXPECT_EQ(Usable(window), kIdle);
    Select(k100K, kOneThread);
    injectedTick = 7000;
    Command(IDM_START);
    // Until the first message is served, the run is exactly as Start left it.
    EXPECT_EQ(Usable(window), kRunning);
    EXPECT_EQ(RowCount(grid), 1);
    EXPECT_EQ(CellText(grid, 0, 0), L"100K");
    EXPECT_EQ(CellText(grid, 0, 2), L"");
    EXPECT_EQ(handler->currentRow, 0);
    EXPECT_EQ(handler->startTick, 7000u);
    injectedTick = 7250;
    ASSERT_TRUE(PumpUntil([&] { return handler->currentRow == 1; }));
    EXPECT_EQ(CellText(grid, 0, 1), L"1 core");
    EXPECT_EQ(CellText(grid, 0, 2), L"1299709");
    EXPECT_EQ(CellText(grid, 0, 3), L" 0.25 sec");
    EXPECT_EQ(Usable(window), kReady);
    // The bar and the title keep the last progress.
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (100.00%)");
    EXPECT_THAT(Progress(window), ::testing::FieldsAre(1, 100000, 99999));

    Select(k100K, kTwoThreads);
    Command(IDM_START);
    EXPECT_EQ(Usable(window), kRunning);
    EXPECT_EQ(RowCount(grid), 2);
    ASSERT_TRUE(PumpUntil([&] { return handler->currentRow == 2; }));
    EXPECT_EQ(CellText(grid, 0, 2), L"1299709");
    EXPECT_EQ(CellText(grid, 1, 0), L"100K");
    EXPECT_EQ(CellText(grid, 1, 1), L"2 cores");
    EXPECT_EQ(CellText(grid, 1, 2), L"1299709");
    EXPECT_EQ(Usable(window), kReady);
    EXPECT_EQ(handler->manager->lastIndex, 100000u);
}

TEST_F(RunCommandsTest, StopInTheMiddleKeepsThePercentageAndTheNextRunTakesTheNextRow) {
    const int threadsBefore = ThreadsOfThisProcess();
    Select(k1M, kTwoThreads);
    Command(IDM_START);
    // The first batch is one small range: its progress comes long before the end.
    ASSERT_TRUE(PumpUntil([&] { return WindowText(window).find(L"%)") != std::wstring::npos; }));
    Command(IDM_STOP);
    if (handler->manager->lastIndex == 1000000u) GTEST_SKIP() << "the run finished before it could be stopped";
    EXPECT_EQ(handler->currentRow, 1);
    const std::wstring stoppedCell = CellText(grid, 0, 2);
    EXPECT_THAT(stoppedCell, HasSubstr(L"%)"));
    EXPECT_EQ(CellText(grid, 0, 1), L"2 cores");
    EXPECT_EQ(Usable(window), kReady);
    EXPECT_EQ(WindowText(window), TITLE_BASE);
    EXPECT_THAT(Progress(window), ::testing::FieldsAre(0, 100, 0));
    EXPECT_FALSE(handler->manager->running);
    EXPECT_TRUE(NoWorkerThread());
    EXPECT_LE(ThreadsOfThisProcess(), threadsBefore);
    // Nothing of the stopped run arrives later.
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(CellText(grid, 0, 2), stoppedCell);
    EXPECT_EQ(WindowText(window), TITLE_BASE);
    EXPECT_TRUE(problems.empty());

    Select(k100K, kOneThread);
    RunToTheEnd();
    EXPECT_EQ(RowCount(grid), 2);
    EXPECT_EQ(CellText(grid, 0, 2), stoppedCell);
    EXPECT_EQ(CellText(grid, 1, 0), L"100K");
    EXPECT_EQ(CellText(grid, 1, 2), L"1299709");

    Command(IDM_CLEAR_GRID);
    EXPECT_EQ(RowCount(grid), 0);
    EXPECT_EQ(handler->currentRow, 0);
    EXPECT_EQ(Usable(window), kIdle);
    EXPECT_EQ(Progress(window).high, 100);
    RunToTheEnd();
    EXPECT_EQ(RowCount(grid), 1);
}

// Holds a finish on its way to the window until released. For the engine:
// the completing worker has cleared running and is about to send, the moment
// a user's Stop or Start may come in. For a writer: the file is closed and
// the program must still be saving.
class HeldFinish : public INotifyTarget {
public:
    explicit HeldFinish(INotifyTarget* real_, uint32_t finish_ = WM_SEARCH_FINISHED) : real(real_), finish(finish_) {}
    ~HeldFinish() override {
        CloseHandle(arrived);
        CloseHandle(release);
    }
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        if (message == finish) {
            SetEvent(arrived);
            WaitForSingleObject(release, 5000);
        }
        real->Notify(message, wParam, lParam);
    }
    bool Arrived() const { return WaitForSingleObject(arrived, 0) == WAIT_OBJECT_0; }
    void Rearm() {
        ResetEvent(arrived);
        ResetEvent(release);
    }
    void Release() { SetEvent(release); }

private:
    INotifyTarget* real;
    uint32_t finish;
    HANDLE arrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(RunCommandsTest, FinishOnItsWayIsHandledInsideStopAndStart) {
    HeldFinish held(handler->manager->notifyTarget);
    handler->manager->notifyTarget = &held;
    Select(k100K, kOneThread);
    for (int round = 0; round < 2; ++round) {
        const int row = handler->currentRow;
        held.Rearm();
        Command(IDM_START);
        ASSERT_TRUE(PumpUntil([&] { return held.Arrived(); }));
        EXPECT_FALSE(handler->manager->running);
        EXPECT_EQ(handler->currentRow, row);
        EXPECT_EQ(CellText(grid, row, 2), L"1299709 (100.00%)");
        // No message is served between the release and the command.
        held.Release();
        if (round == 0) {
            Command(IDM_STOP);
            EXPECT_EQ(handler->currentRow, row + 1);  // moved on once, by the finish
            EXPECT_EQ(RowCount(grid), 1);
            EXPECT_EQ(CellText(grid, row, 2), L"1299709");
            EXPECT_EQ(Usable(window), kReady);
            EXPECT_EQ(WindowText(window), TITLE_BASE L" (100.00%)");  // a finish keeps the bar
            EXPECT_TRUE(NoWorkerThread());
        } else {
            held.Rearm();
            held.Release();  // the new run's finish goes straight through
            Command(IDM_START);
            EXPECT_EQ(CellText(grid, row, 2), L"1299709");
            EXPECT_EQ(RowCount(grid), row + 2);
            EXPECT_EQ(handler->currentRow, row + 1);
            EXPECT_EQ(Usable(window), kRunning);
            ASSERT_TRUE(PumpUntil([&] { return handler->currentRow == row + 2; }));
            EXPECT_EQ(CellText(grid, row + 1, 2), L"1299709");
        }
    }
    handler->manager->notifyTarget = &handler->notifier;
}

TEST_F(RunCommandsTest, HundredStopStartCyclesEachTakeOneRow) {
    std::mt19937 random(12345);
    for (int cycle = 0; cycle < 100; ++cycle) {
        Select(cycle % 2 == 0 ? k100K : k1M, static_cast<int>(random() % 2));
        Command(IDM_START);
        const DWORD pumpMs = random() % 12;
        if (pumpMs > 0) PumpUntil([] { return false; }, pumpMs);
        Command(IDM_STOP);
        ASSERT_EQ(handler->currentRow, cycle + 1) << "cycle " << cycle;
        ASSERT_FALSE(handler->manager->running);
        ASSERT_TRUE(NoWorkerThread());
    }
    EXPECT_EQ(RowCount(grid), 100);
    EXPECT_EQ(Usable(window), kReady);
    // Each Start scrolled its row into view: the last one is on the page.
    const int top = static_cast<int>(SendMessageW(grid, LVM_GETTOPINDEX, 0, 0));
    const int perPage = static_cast<int>(SendMessageW(grid, LVM_GETCOUNTPERPAGE, 0, 0));
    EXPECT_GT(top, 0);
    EXPECT_LE(top, 99);
    EXPECT_GT(top + perPage, 99) << "top " << top << ", rows per page " << perPage;
    for (int row = 0; row < 100; ++row) {
        const std::wstring prime = CellText(grid, row, 2);
        // Finished, stopped with a percentage, or stopped before any progress.
        const bool finished = prime == L"1299709" || prime == L"15485863";
        const bool stopped = prime.empty() || prime.find(L"%)") != std::wstring::npos;
        EXPECT_TRUE(finished || stopped) << "row " << row << ": " << prime;
    }
    EXPECT_TRUE(problems.empty());
}

TEST_F(RunCommandsTest, SavePrimesAndGridThroughTheDialog) {
    Select(k100K, kOneThread);
    RunToTheEnd();
    // The default name follows the last row, not the selector.
    Select(k1M, kOneThread);

    RunState whileOpen{};
    std::wstring shownPrimes;
    const std::wstring typed = (temp.folder / L"primes").wstring();  // .txt is added
    HeldFinish held(handler->fileJob.notifyWindow, WM_SAVE_FINISHED);
    handler->fileJob.notifyWindow = &held;
    {
        SaveDialogDriver user([&](HWND dialog) {
            whileOpen = Usable(window);
            TypeFileName(dialog, typed);
            Press(dialog, IDOK);
        });
        Command(IDM_SAVE_PRIMES);
        shownPrimes = user.shownName;
    }
    EXPECT_EQ(shownPrimes, TITLE_BASE L"(100K)");
    // The dialog has closed and the writer has written everything: still
    // Saving until its finish is handled.
    ASSERT_TRUE(PumpUntil([&] { return held.Arrived(); }));
    EXPECT_EQ(Usable(window), kSaving);
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (100.00%)");
    held.Release();
    ASSERT_TRUE(PumpUntilSaved());
    handler->fileJob.notifyWindow = &handler->notifier;
    EXPECT_EQ(whileOpen, kSaving);
    EXPECT_EQ(Usable(window), kReady);
    EXPECT_FALSE(MenuGrayed(window, IDM_ABOUT));
    EXPECT_FALSE(MenuGrayed(window, IDM_EXIT));
    EXPECT_TRUE(problems.empty());
    EXPECT_TRUE(SameText(ReadBytes(temp.folder / L"primes.txt"), PrimesFileText(100000)));
    // The bar and title keep the writer's last progress.
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (100.00%)");
    EXPECT_EQ(Progress(window).low, 0);

    Select(k100K, kTwoThreads);
    RunToTheEnd();
    std::wstring shownGrid;
    {
        SaveDialogDriver user([&](HWND dialog) {
            whileOpen = Usable(window);
            TypeFileName(dialog, (temp.folder / L"grid.txt").wstring());
            Press(dialog, IDOK);
        });
        Command(IDM_SAVE_GRID);
        ASSERT_TRUE(PumpUntilSaved());
        shownGrid = user.shownName;
    }
    EXPECT_EQ(shownGrid, TITLE_BASE L"(Grid)");
    EXPECT_EQ(whileOpen, kSaving);
    EXPECT_EQ(Usable(window), kReady);
    EXPECT_EQ(ReadBytes(temp.folder / L"grid.txt"),
              "\xEF\xBB\xBF"
              "100K\t\t1 core\t\t1299709\t\t 0.00 sec\t\t\r\n"
              "100K\t\t2 cores\t\t1299709\t\t 0.00 sec\t\t\r\n");
    EXPECT_TRUE(problems.empty());
}

TEST_F(RunCommandsTest, DefaultNamesAndCancelReturnToReadyAtOnce) {
    Select(k1M, kTwoThreads);
    RunToTheEnd();
    const std::wstring title = WindowText(window);
    // The primes' name follows the last row, not the selector.
    Select(k100K, kOneThread);

    std::wstring shownPrimes, shownGrid;
    {
        SaveDialogDriver user([&](HWND dialog) { Press(dialog, IDCANCEL); });
        Command(IDM_SAVE_PRIMES);
        // Back in Ready when the command returns, without any pumping here.
        EXPECT_EQ(Usable(window), kReady);
        EXPECT_EQ(WindowText(window), title);
        shownPrimes = user.shownName;
    }
    {
        SaveDialogDriver user([&](HWND dialog) { Press(dialog, IDCANCEL); });
        Command(IDM_SAVE_GRID);
        EXPECT_EQ(Usable(window), kReady);
        shownGrid = user.shownName;
    }
    EXPECT_EQ(shownPrimes, TITLE_BASE L"(1M)");
    EXPECT_EQ(shownGrid, TITLE_BASE L"(Grid)");
    EXPECT_TRUE(problems.empty());
    EXPECT_TRUE(std::filesystem::is_empty(temp.folder));
}

TEST_F(RunCommandsTest, FileThatCannotBeWrittenIsReportedByNameAndEndsInReady) {
    Select(k100K, kOneThread);
    RunToTheEnd();
    const std::filesystem::path locked = temp.folder / L"locked.txt";
    { std::ofstream(locked) << "kept"; }
    // Held open without sharing: the writer cannot open it.
    HANDLE holder = CreateFileW(locked.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    bool asked = false;
    {
        SaveDialogDriver user([&](HWND dialog) {
            TypeFileName(dialog, locked.wstring());
            Press(dialog, IDOK);
            HWND question = WaitForQuestion(dialog);
            asked = question != nullptr;
            if (asked) Press(question, IDYES);
        });
        Command(IDM_SAVE_GRID);
    }
    ASSERT_TRUE(PumpUntilSaved());
    CloseHandle(holder);
    EXPECT_TRUE(asked);
    EXPECT_EQ(Usable(window), kReady);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], HasSubstr(L"locked.txt"));
    EXPECT_EQ(ReadBytes(locked), "kept");
}

// A 32-bit address space can be used up: a writer's stack or the 200M
// table then finds no room. A 64-bit one cannot.
#ifndef _WIN64
TEST_F(RunCommandsTest, WriterThatCannotStartIsReportedAndEndsInReady) {
    Select(k100K, kOneThread);
    RunToTheEnd();
    writerStackSize = 0xFFF00000u;  // more than a 32-bit process can reserve
    SaveAs(IDM_SAVE_PRIMES, (temp.folder / L"never.txt").wstring());
    // The finish came from the failed launch itself, before the command returned.
    EXPECT_EQ(Usable(window), kReady);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], HasSubstr(L"never.txt"));
    EXPECT_FALSE(std::filesystem::exists(temp.folder / L"never.txt"));

    // The next save works.
    writerStackSize = 0;
    SaveAs(IDM_SAVE_PRIMES, (temp.folder / L"now.txt").wstring());
    ASSERT_TRUE(PumpUntilSaved());
    EXPECT_EQ(problems.size(), 1u);
    EXPECT_EQ(ReadBytes(temp.folder / L"now.txt").size(), PrimesFileText(100000).size());
}

// Address space taken away in large blocks, and given back at the end.
class AddressSpaceHog {
public:
    enum class Leave {
        SmallBlocks,  // a few dozen megabytes in blocks of 1 MB: no 200M table
        NoStack,      // heap room only in holes smaller than a thread's 2 MB stack
    };

    explicit AddressSpaceHog(Leave leave) {
        constexpr SIZE_T kGrain = SIZE_T{64} << 10;  // the allocation granularity
        constexpr SIZE_T kStack = SIZE_T{2} << 20;
        // Room for every block a 4 GB address space has: no allocation below.
        blocks.reserve((SIZE_T{1} << 16) + 32);
        const SIZE_T smallest = leave == Leave::SmallBlocks ? SIZE_T{1} << 20 : kGrain;
        for (SIZE_T size = SIZE_T{256} << 20; size >= smallest; size /= 2) {
            while (void* taken = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
                blocks.push_back({static_cast<char*>(taken), size});
            }
        }
        if (leave == Leave::SmallBlocks) {
            // Leave room for the finders' buffers, the message text and the heap.
            for (int i = 0; i < 48 && !blocks.empty(); ++i) {
                VirtualFree(blocks.back().base, 0, MEM_RELEASE);
                blocks.pop_back();
            }
            return;
        }
        // Nothing is free now, so whatever the program frees stays a region of
        // its own size. Some blocks of 2 MB and more are given back but their
        // last 64 KB and all below a hole of 1.875 MB: holes for the heap,
        // each fenced in by blocks of ours.
        const auto large = std::find_if(blocks.begin(), blocks.end(), [](const Block& b) { return b.size < kStack; });
        const auto first = large - std::min<ptrdiff_t>(8, large - blocks.begin());
        const std::vector<Block> given(first, large);
        blocks.erase(first, large);
        for (const Block& block : given) {
            VirtualFree(block.base, 0, MEM_RELEASE);
            const SIZE_T hole = kStack - 2 * kGrain;
            const SIZE_T below = block.size - hole - kGrain;
            Keep(block.base, below);
            Keep(block.base + below + hole, kGrain);
        }
    }
    ~AddressSpaceHog() {
        for (const Block& block : blocks) VirtualFree(block.base, 0, MEM_RELEASE);
    }

private:
    struct Block {
        char* base;
        SIZE_T size;
    };
    void Keep(char* base, SIZE_T size) {
        if (VirtualAlloc(base, size, MEM_RESERVE, PAGE_NOACCESS) != nullptr) blocks.push_back({base, size});
    }

    std::vector<Block> blocks;
};

TEST_F(RunCommandsTest, RefusedStartSaysHowMuchMemoryItNeedsAndLeavesTheProgramUsable) {
    Select(k100K, kOneThread);
    RunToTheEnd();
    {
        AddressSpaceHog hog(AddressSpaceHog::Leave::SmallBlocks);
        Select(22, kOneThread);  // 200M
        Command(IDM_START);
    }
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], AllOf(HasSubstr(L"200M"), HasSubstr(L"800,000,004")));
    EXPECT_FALSE(handler->manager->running);
    // No row for it; the earlier row, the grid commands and Start still work.
    EXPECT_EQ(RowCount(grid), 1);
    EXPECT_EQ(handler->currentRow, 1);
    EXPECT_EQ(CellText(grid, 0, 2), L"1299709");
    const RunState after = Usable(window);
    EXPECT_TRUE(after.start && !after.stop && after.saveGrid && after.clearGrid && after.task && after.threads);
    // Save Primes is offered only if the earlier table was kept.
    EXPECT_EQ(after.savePrimes, handler->manager->primes != nullptr);

    Select(k100K, kTwoThreads);
    RunToTheEnd();
    EXPECT_EQ(RowCount(grid), 2);
    EXPECT_EQ(CellText(grid, 1, 2), L"1299709");
    EXPECT_EQ(Usable(window), kReady);
}

TEST_F(RunCommandsTest, StartWhoseThreadCannotStartLeavesNoSeedPrimesToSave) {
    Select(k100K, kOneThread);
    RunToTheEnd();
    // The worker may still be on its way out. Wine frees an ended thread's
    // stack only when the next thread ends: none may end under the hog.
    handler->manager->Stop();
    {
        AddressSpaceHog hog(AddressSpaceHog::Leave::NoStack);
        Command(IDM_START);
    }
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], AllOf(HasSubstr(L"could not be started"), HasSubstr(L"given up")));
    EXPECT_EQ(RowCount(grid), 1);
    // The table holds the seeds of the run that did not start, not the 100K
    // of the row: nothing to save under the row's name, even when asked.
    RunState after = kReady;
    after.savePrimes = false;
    EXPECT_EQ(Usable(window), after);
    bool dialogShown = false;
    {
        SaveDialogDriver user([&](HWND dialog) {
            dialogShown = true;
            Press(dialog, IDCANCEL);
        }, 1000);
        Command(IDM_SAVE_PRIMES);
    }
    EXPECT_FALSE(dialogShown);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_THAT(problems[1], HasSubstr(L"no primes to save"));

    RunToTheEnd();
    EXPECT_EQ(Usable(window), kReady);
}
#endif  // _WIN64
