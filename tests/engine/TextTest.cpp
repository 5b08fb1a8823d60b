// The small text forms the layers share: a CSV field, a double that reads back, one line.
#include <gtest/gtest.h>

#include <string>

#include "engine/Text.h"

TEST(Text, CsvFieldFullPrecisionAndOneLine) {
    EXPECT_EQ(CsvField("1 core"), "1 core");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    for (double value : {0.1, 1.0 / 3.0, 12345.678901234567, 1e-9}) {
        EXPECT_EQ(std::stod(FullPrecision(value)), value) << FullPrecision(value);
    }
    EXPECT_EQ(FullPrecision(0.5), "0.5");
    EXPECT_EQ(OneLine("a\nb\rc\td"), "a?b?c?d");
}
