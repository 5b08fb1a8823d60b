// The program's own controller instance, reached through the real dialog
// procedures, the way WinMain sets it up. It can be initialised only once per
// process, so this is a single test.
#include "tests/support/MainDialog.h"

#include "app/Platform.h"
#include "res/resource.h"

namespace {

std::wstring aboutTitle, aboutCopyright, mainTitleWhileAbout;
ProgressState barWhileAbout{-1, -1, -1};
bool aboutSeen = false;
bool aboutOpenAfterEnterAndEscape = false;

// Runs inside the About box's modal loop: once the box is on screen, reads
// what it shows, then closes it the only way it closes, with WM_CLOSE.
void CALLBACK InspectAbout(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND about = FindWindowW(nullptr, L"About Vantrel...");
    if (about == nullptr || !IsWindowVisible(about)) return;
    KillTimer(nullptr, timer);
    aboutSeen = true;
    aboutTitle = WindowText(GetDlgItem(about, IDC_ABOUT_TITLE));
    aboutCopyright = WindowText(GetDlgItem(about, IDC_ABOUT_COPYRIGHT));
    mainTitleWhileAbout = WindowText(windowHandler.mainWindow);
    barWhileAbout = Progress(windowHandler.mainWindow);
    // Escape and Enter must not close it.
    SendMessageW(about, WM_COMMAND, IDCANCEL, 0);
    SendMessageW(about, WM_COMMAND, IDOK, 0);
    aboutOpenAfterEnterAndEscape = IsWindowVisible(about) != FALSE;
    PostMessageW(about, WM_CLOSE, 0, 0);
}

}  // namespace

TEST(Entry, ProgramControllerStartsZeroAndOpensIdleWithItsTitle) {
    // Before the entry function: every field zero, and the About box's
    // pointer already leads to the one controller.
    EXPECT_EQ(aboutHandler, &windowHandler);
    EXPECT_EQ(windowHandler.instance, nullptr);
    EXPECT_EQ(windowHandler.mainWindow, nullptr);
    EXPECT_EQ(windowHandler.manager, nullptr);
    EXPECT_EQ(windowHandler.currentRow, 0);
    EXPECT_EQ(windowHandler.startTick, 0u);
    EXPECT_EQ(windowHandler.titleBase[0], L'\0');

    processorCountSource = [] { return uint32_t{6}; };
    windowHandler.instance = GetModuleHandleW(nullptr);
    HWND main = CreateDialogParamW(windowHandler.instance, MAKEINTRESOURCEW(IDD_MAIN), GetDesktopWindow(),
                                   MainDialogProc, 0);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(windowHandler.mainWindow, main);
    ASSERT_NE(windowHandler.manager, nullptr);
    EXPECT_FALSE(windowHandler.manager->running);
    EXPECT_EQ(WindowText(main), L"Vantrel");  // the template's caption, until shown
    EXPECT_FALSE(IsWindowVisible(main));

    ShowWindow(main, SW_SHOW);
    EXPECT_EQ(WindowText(main), TITLE_BASE);
    EXPECT_NE(SendMessageW(main, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(main, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_THAT(Progress(main), ::testing::FieldsAre(0, 0, 0));

    // Idle: Start and the selectors usable, everything that needs results grayed.
    EXPECT_EQ(Usable(main), kIdle);
    EXPECT_FALSE(MenuGrayed(main, IDM_ABOUT));
    EXPECT_FALSE(MenuGrayed(main, IDM_EXIT));
    EXPECT_EQ(ComboItems(GetDlgItem(main, IDC_THREADS)), L"1 core|2 cores|4 cores");
    EXPECT_EQ(GetFocus(), GetDlgItem(main, IDC_TASK));

    // The modal About box through the menu command, with the real procedure.
    windowHandler.SetProgress(100000, 83182, 1);
    EXPECT_EQ(WindowText(main), TITLE_BASE L" (83.18%)");
    SetTimer(nullptr, 0, 100, InspectAbout);
    SendMessageW(main, WM_COMMAND, IDM_ABOUT, 0);  // returns once the box is closed
    ASSERT_TRUE(aboutSeen);
    EXPECT_TRUE(aboutOpenAfterEnterAndEscape);
    EXPECT_EQ(aboutTitle, TITLE_BASE L" Version 2.0");
    EXPECT_EQ(aboutCopyright, L"Copyright (C) 2026, The Vantrel developers");
    EXPECT_EQ(mainTitleWhileAbout, TITLE_BASE);
    EXPECT_THAT(barWhileAbout, ::testing::FieldsAre(::testing::_, 0, 0));
    // The About box's WM_INITDIALOG changed nothing.
    EXPECT_EQ(windowHandler.mainWindow, main);
    EXPECT_FALSE(MenuGrayed(main, IDM_START));

    processorCountSource = SystemProcessorCount;
    // Not closed: WM_CLOSE on the main window ends the process.
    ShowWindow(main, SW_HIDE);
}
