// The check of a result against what is known in advance: the N-th prime of
// every task, the digest of its N primes and, slot by slot, an independent
// sieve, which finds where a wrong result first went wrong.
#pragma once

#include <cstdint>
#include <string>

// What is checked: a finished run always against the known N-th prime and
// the digest of its N primes; with Full, the primes a stopped run holds too,
// slot by slot against a sieve.
enum class VerifyMode { Digest, Full };

// The verdict of a finished run whose checks all hold.
constexpr const char* kVerifiedFinished = "verified: last prime + digest";

// Checks a completed search: the FINISHED notification (finishedIndex,
// finishedPrime) against N and the known N-th prime, and the primes table
// (lastIndex, slots 0 .. N - 1) for its count and against the known digest
// of the N primes. When the digest differs, the table is compared with a
// sieve to name the first wrong slot (seconds for the largest task).
// Returns an empty string when everything holds, else what is wrong.
std::string VerifyRun(uint32_t targetCount, uint32_t expectedPrime, uint64_t expectedDigest, uint32_t finishedIndex,
                      uint32_t finishedPrime, const uint32_t* primes, uint32_t lastIndex);

// Compares primes[0 .. count - 1] with the primes of a sieve, slot by slot,
// and returns the first slot that differs as "slot S: prime number S + 1 is
// EXPECTED, the table holds FOUND"; an empty string when all agree.
std::string FirstWrongSlot(const uint32_t* primes, uint32_t count);
