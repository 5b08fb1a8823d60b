// What reaches groff: text as written, synopses with names bold and placeholders italic.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "packaging/Roff.h"

TEST(Roff, TextReachesGroffAsWritten) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--task 1M", "\\-\\-task 1M"},
        {"C:\\temp", "C:\\etemp"},
        {".vantrel-1.tmp is kept", "\\&.vantrel\\-1.tmp is kept"},
        {"'quoted' at the start", "\\&'quoted' at the start"},
        {"it's mid-line.", "it's mid\\-line."},
    };
    for (const auto& [text, roff] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(RoffText(text), roff);
    }
}

TEST(Roff, SyntaxSetsNamesBoldAndPlaceholdersItalic) {
    EXPECT_EQ(RoffSyntax("compare BASE [--threads T|all | --sweep] [--format table|csv]"),
              "\\fBcompare\\fR \\fIBASE\\fR [\\fB\\-\\-threads\\fR\\ \\fIT\\fR|\\fBall\\fR\\ |\\ \\fB\\-\\-sweep\\fR] "
              "[\\fB\\-\\-format\\fR\\ \\fBtable\\fR|\\fBcsv\\fR]");
}
