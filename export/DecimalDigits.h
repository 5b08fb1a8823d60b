// Decimal numbers that are counted up and printed many millions of times,
// as the lines of a primes file are.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// A number below 10^16 held as one digit per byte, the lowest digit in the
// lowest byte of `low`. Adding a small decimal addend and printing take a
// handful of word operations, where converting would take a division per
// digit pair: this is what keeps writing a primes file close to the speed
// of the disk.
class DecimalDigits {
public:
    void Set(uint32_t value) {
        low = 0;
        high = 0;
        for (int byte = 0; value != 0; ++byte, value /= 10) {
            uint64_t& word = byte < 8 ? low : high;
            word |= uint64_t(value % 10) << (8 * (byte % 8));
        }
    }

    // Adds a number given as digit bytes (see Spread). The result must stay
    // below 10^16.
    void Add(uint64_t addendDigits) {
        bool carry = false;
        low = AddDigits(low, addendDigits, carry);
        if (carry) high = AddDigits(high, 1, carry);
    }

    // Digits without leading zeros; 0 has one digit.
    uint32_t Length() const {
        if (high != 0) return 16 - uint32_t(std::countl_zero(high)) / 8;
        if (low != 0) return 8 - uint32_t(std::countl_zero(low)) / 8;
        return 1;
    }

    // Writes the ASCII digits at `out` and returns how many there are. Up to
    // 16 bytes are stored: the bytes after the digits are left for the
    // caller to overwrite.
    uint32_t Write(char* out) const {
        const uint32_t length = Length();
        if (length <= 8) {
            Store(out, Ascii(low, length));
        } else {
            Store(out, Ascii(high, length - 8));
            Store(out + (length - 8), Ascii(low, 8));
        }
        return length;
    }

    // The digit bytes of a value below 10^8, as Add takes them.
    static constexpr uint64_t Spread(uint32_t value) {
        uint64_t digits = 0;
        for (int byte = 0; value != 0; ++byte, value /= 10) digits |= uint64_t(value % 10) << (8 * byte);
        return digits;
    }

    // Byte-wise decimal addition: every byte is biased by 246 so that a digit
    // sum of 10 or more carries into the next byte exactly as a binary sum
    // of 256 would; the bias is then taken back from the bytes that did not
    // carry (the ones that did have lost it with the carry).
    static uint64_t AddDigits(uint64_t a, uint64_t b, bool& carryOut) {
        const uint64_t biased = a + 0xF6 * kEachByte;
        const uint64_t sum = biased + b;
        const uint64_t carriesIn = biased ^ b ^ sum;  // bit j: the carry into bit j
        carryOut = sum < biased;
        const uint64_t carried = ((carriesIn >> 8) & kEachByte) | (uint64_t(carryOut) << 56);
        return sum - (~carried & kEachByte) * 0xF6;
    }

    // The last `length` digits (1 to 8) of a digit word as ASCII text, the
    // most significant digit in the lowest byte; the bytes after them are
    // '0'.
    static uint64_t Ascii(uint64_t digits, uint32_t length) {
        return ByteSwap(digits << (64 - 8 * length)) | 0x30 * kEachByte;
    }

    // The word's lowest byte first, as the text reads, on either byte order.
    static void Store(char* out, uint64_t word) {
        if constexpr (std::endian::native == std::endian::big) word = ByteSwap(word);
        std::memcpy(out, &word, sizeof word);
    }

    uint64_t low = 0;
    uint64_t high = 0;

private:
    static constexpr uint64_t kEachByte = 0x0101010101010101ull;

    static uint64_t ByteSwap(uint64_t value) {
#if defined(__GNUC__)
        return __builtin_bswap64(value);
#else
        uint64_t swapped = 0;
        for (int k = 0; k < 8; ++k, value >>= 8) swapped = (swapped << 8) | (value & 0xFF);
        return swapped;
#endif
    }
};
