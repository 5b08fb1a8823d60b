// What differs between the systems the runner is built for, behind one small
// interface: PlatformPosix.cpp on Linux, PlatformWindows.cpp on Windows,
// chosen by CMake. The rest of the runner, the results and both fronts test
// for no system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "runner/Console.h"

namespace platform {

// The system's name and version, "Linux 6.1.0-18-amd64 x86_64 (Debian
// GNU/Linux 12 (bookworm))" or "Windows 10.0 build 19045 (Wine 8.0)".
std::string OperatingSystem();

// This machine's name as the network knows it, "node17"; empty when the
// system does not say. Two machines alike in all else are told apart by it.
std::string HostName();

// True when the standard error stream is a terminal (a live progress line
// is shown there then).
bool StderrIsTerminal();

// The terminals the standard output and error streams are: how wide, and
// whether they take colours and erasing (not a "dumb" terminal; on Windows
// a console that processes them, which this turns on); the environment's
// NO_COLOR.
Terminals StandardTerminals();

// Milliseconds of a monotonic clock, wrapping. Async-signal-safe.
uint32_t MonotonicMilliseconds();

// A file name from the command line as the export job holds it, in wide
// characters: strict UTF-8 on Linux, the ANSI code page on Windows. Nothing
// when it does not decode.
std::optional<std::wstring> WideFileName(const std::string& name);

// The same for a path built here (a link's target, a temporary file).
std::optional<std::wstring> WidePath(const std::filesystem::path& file);

// The encoding command-line file names are read in, for messages: " in UTF-8".
const char* FileNameEncoding();

// The file a command-line name names, for looking at it and removing it.
std::filesystem::path PathOfFileName(const std::string& name);

// 0 when this process may make a new file in `folder`, else errno; 0 on
// Windows, where the writer finds out.
int FolderWriteProblem(const std::filesystem::path& folder);

// 0 when this process may write the existing `file`, else errno; 0 on Windows.
int FileWriteProblem(const std::filesystem::path& file);

// Whether the export job, given `jobText` (its path as text), opens the very
// file `file`: the writers open the job's UTF-8 text on Linux.
bool JobNamesFile(const std::string& jobText, const std::filesystem::path& file);

// The stop signals: SIGTERM, Ctrl-C and, on POSIX, SIGHUP, these two unless
// ignored when the program started (as nohup leaves SIGHUP, and a shell
// SIGINT for a job it starts in the background). `handler` runs
// in the signal handler (so it must be async-signal-safe) with the signal
// and its sender: a process id, kSystemSender when the terminal or the
// system sent it, kUnknownSender where the system does not say (Windows).
using StopHandler = void (*)(int signal, long sender);
constexpr long kSystemSender = 0;
constexpr long kUnknownSender = -1;
void InstallStopHandlers(StopHandler handler);

// True for SIGHUP: the terminal or the connection is gone. False on Windows.
bool IsHangUp(int signal);

// From now on a write to a pipe whose reader has gone fails instead of
// ending the process (for the end of a stopped run). Async-signal-safe;
// does nothing on Windows.
void IgnoreClosedPipes();

// Ends the process by `signal`, as its default action would. Async-signal-safe.
void EndBySignal(int signal);

// The temporary file of a save under way: created (empty, unless something
// of that name is there: 0 or errno) and published as one step that no stop
// signal on this thread comes between, so that a signal handler about to
// end the process can remove it while it is written. Removal is
// async-signal-safe; on Windows, where the writer holds the file open,
// nothing is published, withdrawn or removed.
int CreateTemporaryFile(const std::filesystem::path& file);
void WithdrawTemporaryFile();
void RemoveTemporaryFile();

}  // namespace platform
