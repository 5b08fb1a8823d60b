// Starting a writer on a thread of its own (Windows only).
#pragma once

#include <cstdint>

class FileManager;

enum class SaveKind { Primes, Grid };

// Starts WritePrimesFile or WriteGridFile on a new thread with `job` as its
// argument; the thread releases its handle when it ends. If the thread cannot
// start, the failure is recorded on the job and WM_SAVE_FINISHED (0, 0) is
// sent before this returns false, so the UI never stays in its saving state.
// stackSize 0 means the default stack.
bool StartWriterThread(FileManager* job, SaveKind which, uint32_t stackSize = 0);
