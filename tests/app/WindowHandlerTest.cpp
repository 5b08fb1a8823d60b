// Message dispatch of the real main dialog and About box, and runs started
// from the menu commands.
#include "tests/support/MainDialog.h"

#include <commctrl.h>

#include "res/resource.h"

using WindowHandlerTest = MainDialogTest;

namespace {

// What showing a dialog does to the controller (the icon, the title, the
// About box's lines), without putting it on screen: a shown window takes Wine
// seconds to destroy when no window manager runs.
void ShowTitle(HWND dialog) { SendMessageW(dialog, WM_SHOWWINDOW, TRUE, 0); }

}  // namespace

TEST_F(WindowHandlerTest, AboutBoxShowsItsLinesAndResetsTheMainProgress) {
    Open();
    ShowTitle(window);
    handler->SetProgress(100000, 1898, 1);
    ASSERT_EQ(WindowText(window), TITLE_BASE L" (1.90%)");
    PrimeCoordinator* manager = handler->manager;

    HWND about = CreateDialogParamW(handler->instance, MAKEINTRESOURCEW(IDD_ABOUT), window, Proc, 0);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(handler->mainWindow, window);  // its WM_INITDIALOG was not taken as the main dialog's
    EXPECT_EQ(handler->manager, manager);
    ShowTitle(about);
    EXPECT_EQ(WindowText(GetDlgItem(about, IDC_ABOUT_TITLE)), TITLE_BASE L" Version 2.0");
    EXPECT_EQ(WindowText(GetDlgItem(about, IDC_ABOUT_COPYRIGHT)), L"Copyright (C) 2026, The Vantrel developers");
    EXPECT_EQ(WindowText(window), TITLE_BASE);
    EXPECT_THAT(Progress(window), ::testing::FieldsAre(0, 0, 0));

    // Closing the About box ends it, and only it.
    EXPECT_TRUE(handler->HandleMessage(WM_CLOSE, 0, 0, about));
    EXPECT_TRUE(IsWindow(window));
    DestroyWindow(about);
}

TEST_F(WindowHandlerTest, SecondInitDialogChangesNothing) {
    Open();
    ShowTitle(window);
    PrimeCoordinator* manager = handler->manager;
    const std::wstring tasks = ComboItems(Item(IDC_TASK));
    EXPECT_FALSE(handler->HandleMessage(WM_INITDIALOG, 0, 0, window));
    EXPECT_EQ(handler->mainWindow, window);
    EXPECT_EQ(handler->manager, manager);
    EXPECT_EQ(ComboItems(Item(IDC_TASK)), tasks);  // not filled twice
    EXPECT_EQ(SendMessageW(Item(IDC_GRID), LVM_GETITEMCOUNT, 0, 0), 0);
    EXPECT_EQ(Usable(window), kIdle);
}

TEST_F(WindowHandlerTest, EnterEscapeAndUnknownCommandsDoNothing) {
    Open();
    ShowWindow(window, SW_SHOW);  // on screen: ending the dialog would hide it
    const RunState before = Usable(window);
    EXPECT_FALSE(handler->HandleMessage(WM_COMMAND, IDOK, 0, window));
    EXPECT_FALSE(handler->HandleMessage(WM_COMMAND, IDCANCEL, 0, window));
    EXPECT_FALSE(handler->HandleMessage(WM_COMMAND, 40099, 0, window));
    EXPECT_FALSE(handler->HandleMessage(WM_TIMER, 1, 0, window));
    // Through the dialog manager too: Escape and Enter on the focused list.
    SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
    SendMessageW(window, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(Usable(window), before);
    EXPECT_EQ(WindowText(window), TITLE_BASE);
    EXPECT_EQ(handler->currentRow, 0);
    // Stop with nothing running only resets the run controls.
    EXPECT_TRUE(handler->HandleMessage(WM_COMMAND, IDM_STOP, 0, window));
    EXPECT_EQ(Usable(window), kIdle);
    EXPECT_EQ(handler->currentRow, 0);
}

TEST_F(WindowHandlerTest, NotificationsReadTheirParametersAsUnsigned) {
    Open();
    HWND grid = Item(IDC_GRID);
    handler->manager->targetCount = 200000000;
    handler->InsertRunRow(L"200M", grid, 0);
    // The 200M task's last prime is above 2^31: it arrives as a negative LPARAM.
    const LPARAM prime = static_cast<LPARAM>(static_cast<int32_t>(4222234741u));
    EXPECT_TRUE(handler->HandleMessage(WM_SEARCH_PROGRESS, 199999999, prime, window));
    EXPECT_EQ(CellText(grid, 0, 2), L"4222234741 (100.00%)");
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (100.00%)");
    EXPECT_TRUE(handler->HandleMessage(WM_SEARCH_FINISHED, 199999999, prime, window));
    EXPECT_EQ(CellText(grid, 0, 2), L"4222234741");
    EXPECT_EQ(handler->currentRow, 1);
    EXPECT_EQ(Usable(window), kReady);

    EXPECT_TRUE(handler->HandleMessage(WM_SAVE_PROGRESS, 3, 4, window));
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (75.00%)");
    EXPECT_TRUE(handler->HandleMessage(WM_SAVE_FINISHED, 4, 4, window));
    EXPECT_EQ(Usable(window), kReady);
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (75.00%)");  // left as it was
}

TEST_F(WindowHandlerTest, RunFromTheMenuFillsItsRowThenClearGridEmptiesTheGrid) {
    Open(2);
    ShowTitle(window);
    HWND grid = Item(IDC_GRID);
    SendMessageW(Item(IDC_TASK), CB_SETCURSEL, 0, 0);     // 100K
    SendMessageW(Item(IDC_THREADS), CB_SETCURSEL, 1, 0);  // 2 cores
    injectedTick = 5000;
    EXPECT_TRUE(handler->HandleMessage(WM_COMMAND, IDM_START, 0, window));
    EXPECT_EQ(handler->startTick, 5000u);
    EXPECT_EQ(RowCount(grid), 1);
    EXPECT_EQ(CellText(grid, 0, 0), L"100K");
    ASSERT_TRUE(PumpUntil([&] { return handler->currentRow == 1; }));
    EXPECT_EQ(CellText(grid, 0, 1), L"2 cores");
    EXPECT_EQ(CellText(grid, 0, 2), L"1299709");
    EXPECT_EQ(CellText(grid, 0, 3), L" 0.00 sec");
    EXPECT_EQ(WindowText(window), TITLE_BASE L" (100.00%)");
    EXPECT_EQ(Progress(window).pos, 99999);
    EXPECT_EQ(Usable(window), kReady);
    EXPECT_FALSE(handler->manager->running);

    // Stop after a finished run does not move on a row.
    SendMessageW(window, WM_COMMAND, IDM_STOP, 0);
    EXPECT_EQ(handler->currentRow, 1);

    // The next run goes to the next row; stopped at once, it keeps its row.
    SendMessageW(Item(IDC_TASK), CB_SETCURSEL, 22, 0);  // 200M: still running when stopped
    SendMessageW(Item(IDC_THREADS), CB_SETCURSEL, 0, 0);
    SendMessageW(window, WM_COMMAND, IDM_START, 0);
    if (handler->manager->running) {  // the 800 MB table may not fit this process
        EXPECT_EQ(RowCount(grid), 2);
        EXPECT_EQ(CellText(grid, 1, 0), L"200M");
        EXPECT_TRUE(MenuGrayed(window, IDM_START));
        EXPECT_FALSE(MenuGrayed(window, IDM_STOP));
        EXPECT_FALSE(IsWindowEnabled(Item(IDC_TASK)));
        SendMessageW(window, WM_COMMAND, IDM_STOP, 0);
        EXPECT_FALSE(handler->manager->running);
        EXPECT_EQ(handler->currentRow, 2);
        EXPECT_EQ(WindowText(window), TITLE_BASE);
        EXPECT_EQ(Usable(window), kReady);
    }

    SendMessageW(window, WM_COMMAND, IDM_CLEAR_GRID, 0);
    EXPECT_EQ(RowCount(grid), 0);
    EXPECT_EQ(handler->currentRow, 0);
    EXPECT_EQ(Usable(window), kIdle);
    EXPECT_EQ(WindowText(window), TITLE_BASE);
    EXPECT_THAT(Progress(window), ::testing::FieldsAre(::testing::_, 100, 0));
}
