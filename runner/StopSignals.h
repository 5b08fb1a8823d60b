// Ctrl-C, SIGTERM and (on POSIX) SIGHUP as a request to stop, for both
// programs. The first one only sets a flag, which the main thread polls: the
// run under way stops cooperatively and what was found is reported, saved
// and stored. A hang-up (the terminal or the connection closed) does no
// more, ever, so that a burn-in whose terminal is gone still keeps its
// results; under nohup, which ignores it, the runs go on.
//
// A second Ctrl-C or SIGTERM ends the process the default way, should the
// stop ever hang, and takes a save's temporary file with it: at once when it
// comes from the terminal or another process, after a second when the same
// process sends the same signal again. That second is for `timeout`, which
// signals the program and then its whole process group: one request,
// arriving twice. Where the system does not say who sent a signal (Windows),
// any second signal within that second counts as the first one again.
#pragma once

#include <atomic>
#include <string>

// Sets the handlers; the flag turns true at the first signal.
const std::atomic<bool>& InstallStopSignals();

// SIGINT, SIGTERM or SIGHUP, whichever came first; 0 before any.
int FirstStopSignal();

// The first stop signal as reports name it: "Ctrl-C" (also for a stop that
// came without a signal), "SIGTERM", "a hang-up (SIGHUP)".
std::string StopName();

// The exit code of runs that ended with `code`: kExitInterrupted becomes
// the first stop signal's own (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).
int StopExitCode(int code);
