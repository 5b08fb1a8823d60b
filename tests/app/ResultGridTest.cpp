// The result grid, the progress bar and the title of the real main dialog.
#include "tests/support/MainDialog.h"

#include <commctrl.h>

#include "res/resource.h"

using ResultGridTest = MainDialogTest;

TEST_F(ResultGridTest, GridHasFourCentredColumnsWithLinesAndFullRowSelect) {
    Open();
    HWND grid = Item(IDC_GRID);
    EXPECT_EQ(SendMessageW(grid, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x21);
    const struct {
        const wchar_t* title;
        int width;
    } columns[] = {{L"Task", 35}, {L"Thread Count", 80}, {L"Last Prime", 140}, {L"Time", 100}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        wchar_t title[64] = {};
        LVCOLUMNW col = {};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        col.pszText = title;
        col.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(grid, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&col)));
        EXPECT_STREQ(title, columns[i].title);
        EXPECT_EQ(col.cx, columns[i].width);
        EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_CENTER);
    }
    LVCOLUMNW extra = {};
    extra.mask = LVCF_WIDTH;
    EXPECT_FALSE(SendMessageW(grid, LVM_GETCOLUMNW, 4, reinterpret_cast<LPARAM>(&extra)));
    EXPECT_EQ(RowCount(grid), 0);
}

TEST_F(ResultGridTest, ProgressSetsBarAndTitlePercentage) {
    Open();
    handler->SetProgress(100000, 1898, 1);
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (1.90%)");
    EXPECT_THAT(Progress(window), ::testing::FieldsAre(1, 100000, 1898));

    handler->SetProgress(100000, 83182, 1);
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (83.18%)");
    handler->SetProgress(100000, 99999, 1);
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (100.00%)");  // divided by N - 1, the range's width

    // Position 0 gives the bare title, whatever the range.
    handler->SetProgress(100, 0, 0);
    EXPECT_EQ(WindowText(window), TITLE_BASE);
    EXPECT_THAT(Progress(window), ::testing::FieldsAre(0, 100, 0));

    // A save's progress: 0 to the total.
    handler->SetProgress(8, 1, 0);
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (12.50%)");
    handler->SetProgress(0, 0, 0);
    EXPECT_EQ(WindowText(window), TITLE_BASE);
    EXPECT_THAT(Progress(window), ::testing::FieldsAre(::testing::_, 0, 0));
}

TEST_F(ResultGridTest, RunRowFollowsTheHundredThousandSequence) {
    Open(8);
    HWND grid = Item(IDC_GRID);
    SendMessageW(Item(IDC_TASK), CB_SETCURSEL, 0, 0);     // 100K
    SendMessageW(Item(IDC_THREADS), CB_SETCURSEL, 2, 0);  // 4 cores
    handler->manager->targetCount = 100000;
    handler->InsertRunRow(handler->SelectedTaskLabel(), grid, handler->currentRow);
    ASSERT_EQ(RowCount(grid), 1);
    EXPECT_EQ(CellText(grid, 0, 0), L"100K");
    EXPECT_EQ(CellText(grid, 0, 1), L"");  // filled by the first update

    handler->startTick = 1000;
    injectedTick = 1500;
    handler->UpdateRunRow(false, 1898, 16369);
    EXPECT_EQ(CellText(grid, 0, 0), L"100K");
    EXPECT_EQ(CellText(grid, 0, 1), L"4 cores");
    EXPECT_EQ(CellText(grid, 0, 2), L"16369 (1.90%)");
    EXPECT_EQ(CellText(grid, 0, 3), L" 0.50 sec");
    EXPECT_EQ(handler->currentRow, 0);

    injectedTick = 1105;
    handler->UpdateRunRow(false, 83182, 1064953);
    EXPECT_EQ(CellText(grid, 0, 2), L"1064953 (83.18%)");
    EXPECT_EQ(CellText(grid, 0, 3), L" 0.11 sec");

    injectedTick = 101000;
    handler->UpdateRunRow(false, 99999, 1299709);
    EXPECT_EQ(CellText(grid, 0, 2), L"1299709 (100.00%)");  // 99.999 rounded up
    EXPECT_EQ(CellText(grid, 0, 3), L"100.00 sec");          // never cut

    handler->UpdateRunRow(true, 99999, 1299709);
    EXPECT_EQ(CellText(grid, 0, 2), L"1299709");
    EXPECT_EQ(handler->currentRow, 1);
    EXPECT_EQ(RowCount(grid), 1);
    EXPECT_STREQ(handler->LastRunTask(), L"100K");  // the Task cell, not the thread count

    // A row index past the grid's end: no row appears.
    handler->UpdateRunRow(false, 1898, 16369);
    EXPECT_EQ(RowCount(grid), 1);
}

TEST_F(ResultGridTest, ElapsedTimeAcrossTheTickCountersWrap) {
    Open();
    HWND grid = Item(IDC_GRID);
    handler->manager->targetCount = 100000;
    handler->InsertRunRow(handler->SelectedTaskLabel(), grid, 0);
    handler->startTick = 0xFFFFFC18u;  // 1000 ms before the wrap
    injectedTick = 500;
    handler->UpdateRunRow(false, 1898, 16369);
    EXPECT_EQ(CellText(grid, 0, 3), L" 1.50 sec");
}

TEST_F(ResultGridTest, LastRunTaskWithoutRowsKeepsTheBuffer) {
    Open();
    handler->threadText[0] = L'x';
    handler->threadText[1] = 0;
    EXPECT_STREQ(handler->LastRunTask(), L"x");
}
