// The task and thread-count lists of the real main dialog.
#include "AppTestSupport.h"

#include <bit>
#include <cmath>

#include "engine/TaskTable.h"
#include "res/resource.h"

using SelectorsTest = MainDialogTest;

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
