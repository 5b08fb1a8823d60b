// The save dialog and the writer thread on Windows, with the system's own
// dialog driven from a second thread and the grid read from a real list view.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "export/FileManager.h"
#include "export/ListViewGridSource.h"
#include "export/WriterThread.h"
#include "tests/export/ExportTestSupport.h"
#include "tests/support/SaveDialogDriver.h"

namespace {

// A window of the test (UI) thread that receives WM_SAVE_* as the main
// dialog does: by SendMessageW, from the writer thread or from its own.
class NotifyWindow : public INotifyTarget {
public:
    NotifyWindow() {
        static const bool registered = [] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = Procedure;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kClassName;
            return RegisterClassW(&wc) != 0;
        }();
        EXPECT_TRUE(registered);
        hwnd = CreateWindowExW(0, kClassName, L"notify", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NotifyWindow() override { DestroyWindow(hwnd); }

    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        SendMessageW(hwnd, message, wParam, LPARAM(lParam));
    }

    // Serves messages, the writer's sends among them, until WM_SAVE_FINISHED.
    bool PumpUntilFinished() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!finished && std::chrono::steady_clock::now() < deadline) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        return finished;
    }

    HWND hwnd = nullptr;
    FileManager* job = nullptr;
    std::vector<Message> messages;
    std::string failureAtFinish;
    bool finished = false;

private:
    static constexpr const wchar_t* kClassName = L"VantrelExportTestNotify";

    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr && (message == WM_SAVE_PROGRESS || message == WM_SAVE_FINISHED)) {
            self->messages.push_back({message, uint32_t(wParam), uint32_t(lParam)});
            if (message == WM_SAVE_FINISHED) {
                self->finished = true;
                if (self->job != nullptr) self->failureAtFinish = self->job->Failure();
            }
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
};

// Runs the dialog on this thread while `user` answers it from another one;
// `user` gets the dialog and the file name it opened with.
bool RunDialogAnswered(FileManager& job, std::wstring& shownName, const std::function<void(HWND)>& user) {
    std::thread other([&] {
        HWND dialog = WaitForSaveDialog(kDialogWaitMs);
        if (dialog == nullptr) return;
        shownName = FileNameText(dialog);
        user(dialog);
    });
    const bool chosen = job.RunSaveDialog();
    other.join();
    return chosen;
}

TEST(SaveDialogTest, CancelSendsOneFinishedAndWritesNothing) {
    TempFolder temp;
    NotifyWindow window;
    FileManager job(&window);
    const std::wstring defaultName = (temp.folder / L"Vantrel(100M)").wstring();
    job.SetPath(defaultName.c_str());
    std::wstring shown;
    const bool chosen = RunDialogAnswered(job, shown, [](HWND dialog) { Press(dialog, IDCANCEL); });
    EXPECT_FALSE(chosen);
    EXPECT_EQ(shown, L"Vantrel(100M)");  // the dialog shows the folder apart from the name
    // Handled before RunSaveDialog returned, without any pumping here.
    EXPECT_EQ(window.messages, (std::vector<Message>{Finished(0, 0)}));
    EXPECT_TRUE(std::filesystem::is_empty(temp.folder));
}

TEST(SaveDialogTest, TwoSavesInARowEachOpenOnTheirDefaultName) {
    TempFolder temp;
    NotifyWindow window;
    FileManager job(&window);
    window.job = &job;
    const std::vector<uint32_t> primes = FirstPrimes(100);

    // Save Primes: a name typed without extension gets .txt.
    job.SetPath(L"Vantrel(100K)");
    job.items = primes.data();
    job.itemCount = 100;
    const std::wstring typed = (temp.folder / L"chosen").wstring();
    std::wstring shown;
    ASSERT_TRUE(RunDialogAnswered(job, shown, [&typed](HWND dialog) {
        SendMessageW(FileNameField(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
        Press(dialog, IDOK);
    }));
    EXPECT_EQ(shown, L"Vantrel(100K)");
    const std::filesystem::path chosen = temp.Path(L"chosen.txt");
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(job.path).parent_path(), temp.folder));
    EXPECT_EQ(std::filesystem::path(job.path).filename(), L"chosen.txt");
    ASSERT_TRUE(StartWriterThread(&job, SaveKind::Primes));
    ASSERT_TRUE(window.PumpUntilFinished());
    EXPECT_EQ(window.messages, (std::vector<Message>{Progress(0, 100), Progress(99, 100), Progress(100, 100),
                                                      Finished(100, 100)}));
    EXPECT_EQ(window.failureAtFinish, "");
    const std::string text = ReadBytes(chosen);
    EXPECT_EQ(text.substr(0, 10), "1-2\r\n2-3\r\n");
    EXPECT_EQ(text.substr(text.size() - 9), "100-541\r\n");

    // Save Result Grid: the dialog opens on the new default name, not on the
    // path chosen before.
    window.messages.clear();
    job.SetPath(L"Vantrel(Grid)");
    ASSERT_FALSE(RunDialogAnswered(job, shown, [](HWND dialog) { Press(dialog, IDCANCEL); }));
    EXPECT_EQ(shown, L"Vantrel(Grid)");
    EXPECT_EQ(window.messages, (std::vector<Message>{Finished(0, 0)}));
}

TEST(SaveDialogTest, ExistingFileIsReplacedOnlyAfterAsking) {
    TempFolder temp;
    NotifyWindow window;
    FileManager job(&window);
    const std::filesystem::path existing = temp.Path(L"old.txt");
    WriteBytes(existing, std::string(5000, 'x'));
    const uint32_t primes[3] = {2, 3, 5};
    job.SetPath(L"Vantrel(100K)");
    job.items = primes;
    job.itemCount = 3;
    bool asked = false;
    std::wstring shown;
    ASSERT_TRUE(RunDialogAnswered(job, shown, [&existing, &asked](HWND dialog) {
        SendMessageW(FileNameField(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(existing.wstring().c_str()));
        Press(dialog, IDOK);
        HWND question = WaitForQuestion(dialog);
        asked = question != nullptr;
        if (asked) Press(question, IDYES);
    }));
    EXPECT_TRUE(asked);
    ASSERT_TRUE(StartWriterThread(&job, SaveKind::Primes));
    ASSERT_TRUE(window.PumpUntilFinished());
    EXPECT_EQ(ReadBytes(existing), "1-2\r\n2-3\r\n3-5\r\n");
}

TEST(WriterThreadTest, GridIsReadFromTheListViewByTheWriterThread) {
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
TEST(WriterThreadTest, ThreadThatCannotStartIsReportedAndFinishes) {
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
    EXPECT_NE(job.Failure().find("never.txt"), std::string::npos) << job.Failure();
    EXPECT_FALSE(std::filesystem::exists(temp.Path(L"never.txt")));
}
#endif

}  // namespace
