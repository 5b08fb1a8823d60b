// File names given to --save-primes and --save-grid: the form the export job
// takes them in, and the checks that can be made before a run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// The export job holds its path as at most 259 wide units. The name from the
// command line (UTF-8 here, the ANSI code page on Windows) in that form, or
// nothing when it does not fit or would not name the very same file again.
std::optional<std::wstring> JobPathOf(const std::string& name);

// JobPathOf for a path built here (a link's target, a temporary file).
std::optional<std::wstring> JobPathOfFile(const std::filesystem::path& file);

// The temporary file a save to `target` writes first: in the same folder, so
// that it can be renamed over the target, and told apart by `tag`.
std::filesystem::path TemporaryFileOf(const std::filesystem::path& target, uint32_t tag);

// The file `name` names, for looking at it and removing it: built from the
// wide form on Windows, where narrow paths pass through the C locale.
std::filesystem::path FilePathOf(const std::string& name);

// The file a save to `name` replaces: where a symbolic link leads (even to
// a file not there yet), else the name itself.
std::filesystem::path SaveTargetOf(const std::string& name);

// True when both names lead to one file: the same file once either exists
// (through links, "./", "..", another spelling), or the same path to come.
bool NameTheSameFile(const std::string& first, const std::string& second);

// What stands in the way of saving to `name` right now, in the words the
// writers use ("Could not open "NAME": REASON"); empty when nothing does.
// Looks only: it neither creates nor empties a file. A regular file (or one
// not there yet) is replaced, so its folder must take a new file whose name
// the job can hold.
std::string SaveTargetProblem(const std::string& name);

// The refusal of a save whose temporary file (see TemporaryFileOf) the
// export job could not name.
std::string TemporaryNameProblem(const std::string& name);

// Why `file` is no file whose whole contents can be read or replaced: "it
// is a folder", "it is a FIFO", "it is a device", "it is a socket". Empty
// for a regular file, through links, and for one that is not there. A FIFO
// or a device opened for reading waits for a writer that may never come.
std::string NotARegularFile(const std::filesystem::path& file);
