// The exit codes of both programs, the runner and the fleet.
#pragma once

constexpr int kExitOk = 0;
constexpr int kExitFault = 1;         // a wrong result, a failed or refused run, a failed save, store or chart
constexpr int kExitUsage = 2;         // bad command line; nothing was run
constexpr int kExitHangUp = 129;      // SIGHUP, handled as Ctrl-C
constexpr int kExitInterrupted = 130; // Ctrl-C
constexpr int kExitOutputClosed = 141; // the report could not be written (its reader went away: `| head`), as a shell shows SIGPIPE
constexpr int kExitTerminated = 143;  // SIGTERM, handled as Ctrl-C
