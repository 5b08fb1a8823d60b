// The system's save dialog on Windows, answered from a second thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "export/FileManager.h"
#include "export/WriterThread.h"
#include "tests/support/NotifyWindow.h"
#include "tests/support/SaveDialogDriver.h"
#include "tests/support/SaveRecorder.h"

namespace {

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

// A job that reports to a window of this thread, and a folder to save in.
class SaveDialogTest : public ::testing::Test {
protected:
    TempFolder temp;
    NotifyWindow window;
    FileManager job{&window};
};

TEST_F(SaveDialogTest, CancelSendsOneFinishedAndWritesNothing) {
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

TEST_F(SaveDialogTest, TwoSavesInARowEachOpenOnTheirDefaultName) {
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

TEST_F(SaveDialogTest, ExistingFileIsReplacedOnlyAfterAsking) {
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

}  // namespace
