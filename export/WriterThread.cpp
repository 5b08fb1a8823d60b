#include "export/WriterThread.h"

#include <windows.h>
#include <process.h>

#include <cerrno>
#include <string>

#include "export/FileManager.h"
#include "export/TextEncoding.h"

bool StartWriterThread(FileManager* job, SaveKind which, uint32_t stackSize) {
    if (job == nullptr) return false;
    void (*entry)(void*) = which == SaveKind::Primes ? WritePrimesFile : WriteGridFile;
    errno = 0;
    // _beginthread, not _beginthreadex: nobody waits for the writer, and its
    // handle is closed when it ends.
    if (_beginthread(entry, stackSize, job) != uintptr_t(-1)) return true;

    const int error = errno;
    std::string why = "Could not start saving \"" + job->PathText() + "\"";
    if (error != 0) why += ": " + SystemReason(error);
    job->RecordFailure(why);
    if (job->notifyWindow != nullptr) job->notifyWindow->Notify(WM_SAVE_FINISHED, 0, 0);
    return false;
}
