// The writer thread on Windows: a grid read from a real list view, a thread that cannot start.
#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>

#include "export/FileManager.h"
#include "export/ListViewGridSource.h"
#include "export/WriterThread.h"
#include "tests/support/NotifyWindow.h"
#include "tests/support/SaveRecorder.h"

namespace {

TEST(WriterThread, GridIsReadFromTheListViewByTheWriterThread) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    TempFolder temp;
    NotifyWindow window;
    HWND listView = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0, 400, 200, window.hwnd,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(listView, nullptr);
    for (int column = 0; column < 4; ++column) {
        LVCOLUMNW header = {};
        header.mask = LVCF_TEXT | LVCF_WIDTH;
        header.cx = 80;
        header.pszText = const_cast<wchar_t*>(L"title");
        SendMessageW(listView, LVM_INSERTCOLUMNW, WPARAM(column), reinterpret_cast<LPARAM>(&header));
    }
    const std::wstring longText(120, L'w');
    const wchar_t* const rows[2][4] = {{L"100K", L"1 core", L"1299709", L" 0.05 sec"},
                                       {L"\u00c4\u4e2d", L"", L"1299709 (12.50%)", longText.c_str()}};
    for (int row = 0; row < 2; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(rows[row][0]);
        SendMessageW(listView, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        for (int column = 1; column < 4; ++column) {
            item.iSubItem = column;
            item.pszText = const_cast<wchar_t*>(rows[row][column]);
            SendMessageW(listView, LVM_SETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
        }
    }

    ListViewGridSource grid(listView);
    FileManager job(&window);
    window.job = &job;
    job.SetPath(temp.Path(L"grid.txt").wstring().c_str());
    job.gridView = &grid;
    ASSERT_TRUE(StartWriterThread(&job, SaveKind::Grid));
    ASSERT_TRUE(window.PumpUntilFinished());
    EXPECT_EQ(window.failureAtFinish, "");
    EXPECT_EQ(ReadBytes(temp.Path(L"grid.txt")),
              "\xEF\xBB\xBF"
              "100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\t\r\n"
              "\xC3\x84\xE4\xB8\xAD\t\t\t\t1299709 (12.50%)\t\t" +
                  std::string(99, 'w') + "\t\t\r\n");
    EXPECT_EQ(window.messages, (std::vector<Message>{Progress(0, 2), Progress(0, 2), Progress(1, 2),
                                                      Progress(2, 2), Finished(2, 2)}));
}

#ifndef _WIN64  // a 64-bit process has room for any stack size the job can ask for
TEST(WriterThread, ThreadThatCannotStartIsReportedAndFinishes) {
    TempFolder temp;
    NotifyWindow window;
    FileManager job(&window);
    job.SetPath(temp.Path(L"never.txt").wstring().c_str());
    const uint32_t two = 2;
    job.items = &two;
    job.itemCount = 1;
    // No 32-bit process can reserve a stack this large.
    EXPECT_FALSE(StartWriterThread(&job, SaveKind::Primes, 0xFFF00000u));
    EXPECT_EQ(window.messages, (std::vector<Message>{Finished(0, 0)}));
    EXPECT_THAT(job.Failure(), ::testing::HasSubstr("never.txt"));
    EXPECT_FALSE(std::filesystem::exists(temp.Path(L"never.txt")));
}
#endif

}  // namespace
