#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/RunText.h"

TEST(RunText, FormatFixed2RoundsTheSeventeenDigitFormHalfUp) {
    EXPECT_EQ(FormatFixed2(0.105), "0.11");  // the double lies just below 0.105
    EXPECT_EQ(FormatFixed2(0.125), "0.13");  // exact tie, half up
    EXPECT_EQ(FormatFixed2(0.015), "0.01");  // 17 digits: 0.014999999999999999
    EXPECT_EQ(FormatFixed2(0.5, 5), " 0.50");
    EXPECT_EQ(FormatFixed2(0.0, 5), " 0.00");
    EXPECT_EQ(FormatFixed2(99.999), "100.00");
    EXPECT_EQ(FormatFixed2(9.995), "9.99");   // 17 digits: 9.9949999999999992
    EXPECT_EQ(FormatFixed2(9.996), "10.00");  // carry into a new digit
    EXPECT_EQ(FormatFixed2(123.456, 5), "123.46");  // wider than the field: never cut
    EXPECT_EQ(FormatFixed2(1e20), "100000000000000000000.00");
    EXPECT_EQ(FormatFixed2(4.9e-324), "0.00");
}

// The two steps done another way: printf's correctly rounded 17 significant
// digits, then half up to hundredths on the digit string.
std::string Reference(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16e", value);
    std::string mantissa;
    for (const char* p = buf; *p != 'e'; ++p) {
        if (*p != '.') mantissa += *p;
    }
    const int exponent = std::atoi(std::strchr(buf, 'e') + 1);
    // value = 0.mantissa * 10^(exponent + 1); hundredths = floor(value * 100 + 0.5)
    const int shift = exponent + 1 + 2;  // digits of mantissa before the hundredths' point
    uint64_t whole = 0;
    for (int i = 0; i < shift && i < int(mantissa.size()); ++i) whole = whole * 10 + uint64_t(mantissa[size_t(i)] - '0');
    for (int i = int(mantissa.size()); i < shift; ++i) whole *= 10;
    const bool up = shift >= 0 && shift < int(mantissa.size()) && mantissa[size_t(shift)] >= '5';
    if (shift < 0) whole = 0;
    whole += up ? 1 : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%llu.%02llu", (unsigned long long)(whole / 100), (unsigned long long)(whole % 100));
    return text;
}

TEST(RunText, FormatFixed2AgreesWithPrintfsSeventeenDigitsRoundedHalfUp) {
    // Every millisecond of the first 20 s, then a stride that visits every
    // last digit, up to 200 s.
    for (uint32_t ms = 0; ms < 200000; ms += ms < 20000 ? 1 : 13) {
        ASSERT_EQ(FormatFixed2(ms / 1000.0), Reference(ms / 1000.0)) << ms;
    }
    for (uint32_t index = 0; index < 100000; index += 7) {
        const double percent = index * 100.0 / 100000.0;
        ASSERT_EQ(FormatFixed2(percent), Reference(percent)) << index;
    }
}

TEST(RunText, GridAndTitleTexts) {
    EXPECT_EQ(ThreadCountText(1), "1 core");
    EXPECT_EQ(ThreadCountText(2), "2 cores");
    EXPECT_EQ(ThreadCountText(128), "128 cores");
    EXPECT_EQ(TimeText(0.5), " 0.50 sec");
    EXPECT_EQ(TimeText(100.0), "100.00 sec");
    EXPECT_EQ(ProgressPrimeText(16369, 1898, 100000), "16369 (1.90%)");
    EXPECT_EQ(ProgressPrimeText(7, 1, 4), "7 (25.00%)");  // index over N, not N - 1
    EXPECT_EQ(ProgressPrimeText(1064953, 83182, 100000), "1064953 (83.18%)");
    EXPECT_EQ(ProgressPrimeText(1299709, 99999, 100000), "1299709 (100.00%)");
    EXPECT_EQ(ProgressPrimeText(4222234741u, 199999999, 200000000), "4222234741 (100.00%)");
    EXPECT_EQ(FinishedPrimeText(4222234741u), "4222234741");
    EXPECT_EQ(TitleText("Vantrel@x86", 100000, 0, 1), "Vantrel@x86");
    EXPECT_EQ(TitleText("Vantrel@x86", 100000, 1898, 1), "Vantrel@x86 (1.90%)");
    EXPECT_EQ(TitleText("Vantrel@x86", 5, 1, 1), "Vantrel@x86 (25.00%)");  // over high - low, not + 1
    EXPECT_EQ(TitleText("Vantrel@x86", 100000, 99999, 1), "Vantrel@x86 (100.00%)");
    EXPECT_EQ(TitleText("Vantrel@x86", 1000000, 679073, 0), "Vantrel@x86 (67.91%)");
}
