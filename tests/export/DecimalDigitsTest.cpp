#include <gtest/gtest.h>

#include <random>
#include <string>

#include "export/DecimalDigits.h"

namespace {

std::string Text(const DecimalDigits& digits) {
    char out[32] = {};
    const uint32_t length = digits.Write(out);
    return std::string(out, length);
}

DecimalDigits Of(uint32_t value) {
    DecimalDigits digits;
    digits.Set(value);
    return digits;
}

TEST(DecimalDigits, CarriesRunAcrossEveryDigitAndIntoTheHighWord) {
    DecimalDigits digits = Of(99999999);
    digits.Add(DecimalDigits::Spread(1));
    EXPECT_EQ(Text(digits), "100000000");
    digits = Of(12345678);
    digits.Add(DecimalDigits::Spread(87654322));
    EXPECT_EQ(Text(digits), "100000000");
    digits = Of(999999999);
    digits.Add(DecimalDigits::Spread(1));
    EXPECT_EQ(Text(digits), "1000000000");
    digits = Of(4294967000u);
    digits.Add(DecimalDigits::Spread(295));
    EXPECT_EQ(Text(digits), "4294967295");
    // Beyond 32 bits, as line numbers of the tens of a huge file would go.
    DecimalDigits big;
    big.low = DecimalDigits::Spread(99999999);
    big.high = DecimalDigits::Spread(9999999);
    big.Add(DecimalDigits::Spread(1));
    EXPECT_EQ(Text(big), "1000000000000000");
}

TEST(DecimalDigits, AddingMatchesBinaryArithmetic) {
    std::mt19937 random(20261207);
    for (int k = 0; k < 200000; ++k) {
        const uint32_t a = random() % 4294960000u;
        const uint32_t b = k % 2 == 0 ? random() % 1024 : random() % 100000000;
        if (uint64_t(a) + b > 4294967295u) continue;
        DecimalDigits digits = Of(a);
        digits.Add(DecimalDigits::Spread(b));
        ASSERT_EQ(Text(digits), std::to_string(uint64_t(a) + b)) << a << " + " << b;
    }
}

}  // namespace
