// The primes list file: one "index-prime" line per table slot, ASCII, CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class FileManager;

// Bytes of text gathered before each write: itemCount held to
// 10,000,000 .. 40,000,000. Where the batches fall decides the progress
// messages, not the file's bytes.
uint32_t BatchCapacity(uint32_t itemCount);

// Gives a buffer of `bytes` bytes, or null when there is no memory for it.
using BatchAllocator = std::function<std::unique_ptr<char[]>(size_t bytes)>;

// WritePrimesFile with its batch buffers taken from `allocate`, once per job:
// first two of the full capacity in one block (one is formatted while the
// other is written), else one, else smaller ones down to a few kilobytes.
// The file's bytes never depend on the buffers; the progress messages do.
void WritePrimesFileWith(FileManager* job, const BatchAllocator& allocate);
