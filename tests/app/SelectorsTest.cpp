// The task and thread-count lists of the real main dialog.
#include "tests/support/MainDialog.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <mutex>
#include <vector>

#include "app/Platform.h"
#include "engine/TaskTable.h"
#include "res/resource.h"

using SelectorsTest = MainDialogTest;

namespace {

// A server of three processor groups, as Windows forms them from 160
// logical processors, and the groups the workers were put in.
std::vector<uint32_t> ThreeGroups() { return {64, 64, 32}; }
std::mutex placedLock;
std::vector<uint16_t> placed;
void RecordGroup(uint16_t group) {
    std::lock_guard<std::mutex> hold(placedLock);
    placed.push_back(group);
}

}  // namespace

TEST_F(SelectorsTest, TaskListHoldsTheTableInOrderWithOneMillionSelected) {
    Open();
    HWND list = Item(IDC_TASK);
    EXPECT_EQ(ComboItems(list),
              L"100K|500K|1M|2M|3M|4M|5M|10M|20M|30M|40M|50M|60M|70M|80M|90M|100M|110M|120M|130M|140M|150M|200M");
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(handler->SelectedTaskSize(), 1000000u);
    EXPECT_EQ(handler->SelectedTaskLabel(), TaskTable::taskLabels[2]);  // the table's own text

    for (int i = 0; i < TaskTable::count; ++i) {
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        EXPECT_EQ(handler->SelectedTaskSize(), TaskTable::taskSizes[i]);
        EXPECT_EQ(handler->SelectedTaskLabel(), TaskTable::taskLabels[i]);
    }
    EXPECT_EQ(handler->SelectedTaskSize(), 200000000u);

    // No selection: nothing read from outside the table.
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    EXPECT_EQ(handler->SelectedTaskSize(), 0u);
    EXPECT_EQ(handler->SelectedTaskLabel(), nullptr);
}

TEST_F(SelectorsTest, ThreadListOffersPowersOfTwoUpToTheProcessorCount) {
    const struct {
        uint32_t processors;
        const wchar_t* items;
    } cases[] = {
        {1, L"1 core"},
        {6, L"1 core|2 cores|4 cores"},
        {8, L"1 core|2 cores|4 cores|8 cores"},
        // Never more than 128: the engine takes at most 255 threads.
        {4096, L"1 core|2 cores|4 cores|8 cores|16 cores|32 cores|64 cores|128 cores"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.processors);
        Open(c.processors);
        HWND list = Item(IDC_THREADS);
        EXPECT_EQ(ComboItems(list), c.items);
        EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(handler->SelectedThreadCount(), 1u);
        const LRESULT n = SendMessageW(list, CB_GETCOUNT, 0, 0);
        for (LRESULT k = 0; k < n; ++k) {
            SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(k), 0);
            EXPECT_EQ(handler->SelectedThreadCount(), 1u << k);
        }
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        EXPECT_EQ(handler->SelectedThreadCount(), 0u);
        TearDown();
        SetUp();
    }
}

TEST_F(SelectorsTest, LogarithmsGiveTheHighestBitForEveryProcessorCountTo4096) {
    Open(1);
    HWND list = Item(IDC_THREADS);
    int wrongQuotients = 0, wrongLists = 0;
    for (uint32_t p = 1; p <= 4096; ++p) {
        const int highestBit = std::bit_width(p) - 1;
        // The quotient the thread list is built from, with this build's math library.
        if (static_cast<int>(std::log(static_cast<double>(p)) / std::log(2.0)) != highestBit) ++wrongQuotients;
        // The list itself where its length changes: at each power of two and just below.
        if (!std::has_single_bit(p) && !std::has_single_bit(p + 1)) continue;
        injectedProcessors = p;
        SendMessageW(list, CB_RESETCONTENT, 0, 0);
        handler->FillThreadList();
        const int entries = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
        if (entries != (highestBit < 7 ? highestBit : 7) + 1) {
            ++wrongLists;
            ADD_FAILURE() << "P = " << p << ": " << entries << " entries";
        }
    }
    EXPECT_EQ(wrongQuotients, 0);
    EXPECT_EQ(wrongLists, 0);
}

TEST_F(SelectorsTest, EveryProcessorGroupCountsAndTheWorkersAreSpreadOverThem) {
    processorGroupsSource = ThreeGroups;
    groupPlacer = RecordGroup;
    placed.clear();
    Open(160);
    EXPECT_EQ(ComboItems(Item(IDC_THREADS)), L"1 core|2 cores|4 cores|8 cores|16 cores|32 cores|64 cores|128 cores");

    // A run on 4 cores from the menu: two workers in the first group, one in each other.
    SendMessageW(Item(IDC_TASK), CB_SETCURSEL, 0, 0);     // 100K
    SendMessageW(Item(IDC_THREADS), CB_SETCURSEL, 2, 0);  // 4 cores
    SendMessageW(window, WM_COMMAND, IDM_START, 0);
    ASSERT_TRUE(PumpUntil([&] { return handler->currentRow == 1; }));
    handler->manager->Stop();
    std::sort(placed.begin(), placed.end());
    EXPECT_EQ(placed, (std::vector<uint16_t>{0, 0, 1, 2}));

    // 128 workers: each group's share of them, 51.2, 51.2 and 25.6, rounded.
    const WorkerStartHook place = GroupPlacement(ThreeGroups());
    placed.clear();
    for (uint16_t k = 0; k < 128; ++k) place(k, 128);
    EXPECT_EQ(std::count(placed.begin(), placed.end(), 0), 51);
    EXPECT_EQ(std::count(placed.begin(), placed.end(), 1), 51);
    EXPECT_EQ(std::count(placed.begin(), placed.end(), 2), 26);

    // One group: nothing is placed.
    EXPECT_FALSE(GroupPlacement({64}));
    EXPECT_FALSE(GroupPlacement(SystemProcessorGroups()));  // this machine's single group
    EXPECT_EQ(SystemProcessorCount(), SystemProcessorGroups().front());
}
