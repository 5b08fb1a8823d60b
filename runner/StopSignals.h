// Ctrl-C and SIGTERM as a request to stop, for both programs. The first one
// only sets a flag, which the main thread polls: the run under way stops
// cooperatively and what was found is reported, saved and stored. A second
// one, a second or more later, ends the process the default way, should
// that stop ever hang, and takes a save's temporary file with it. Signals
// within that second are the same request arriving twice: `timeout` sends
// SIGTERM to the program and again to its process group.
#pragma once

#include <atomic>

// Sets the handlers; the flag turns true at the first signal.
const std::atomic<bool>& InstallStopSignals();

// SIGINT or SIGTERM, whichever came first; 0 before either.
int FirstStopSignal();
