// The check of a result against what is known in advance: the N-th prime of
// every task, the digest of its N primes and, slot by slot, an independent
// sieve, which finds where a wrong result first went wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What is checked: a finished run always against the known N-th prime and
// the digest of its N primes; with Full, the primes a stopped run holds too,
// slot by slot against a sieve.
enum class VerifyMode { Digest, Full };

// The verdict of a finished run whose checks all hold.
constexpr const char* kVerifiedFinished = "verified: last prime + digest";

// What a check found: an empty fault when everything holds, else what is
// wrong, one line; and the first slot of the table that differs from the
// sieve, when one does.
struct RunCheck {
    std::string fault;
    std::optional<uint32_t> wrongSlot;
};

// Checks a completed search: the FINISHED notification (finishedIndex,
// finishedPrime) against N and the known N-th prime, and the primes table
// (lastIndex, slots 0 .. N - 1) for its count and against the known digest
// of the N primes. Whenever any of these fails, the table is compared with
// a sieve (seconds for the largest task, less the earlier it went wrong):
// the fault names the first wrong slot, then whatever else differs.
RunCheck VerifyRun(uint32_t targetCount, uint32_t expectedPrime, uint64_t expectedDigest, uint32_t finishedIndex,
                   uint32_t finishedPrime, const uint32_t* primes, uint32_t lastIndex);

// Compares primes[0 .. count - 1] with the primes of a sieve, slot by slot;
// the first slot that differs is the fault "slot S: prime number S + 1 is
// EXPECTED, the table holds FOUND".
RunCheck FirstWrongSlot(const uint32_t* primes, uint32_t count);
