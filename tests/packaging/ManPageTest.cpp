// A manual page from its template and the option table.
#include <gmock/gmock.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "packaging/ManPage.h"

using ::testing::AllOf;
using ::testing::HasSubstr;

const std::string kTemplate = ".TH X 1 @DATE@\n.SH SYNOPSIS\n@SYNOPSIS@\n.SH DESCRIPTION\n@DESCRIPTION@\n"
                              ".SH OPTIONS\n@OPTIONS@\n.SH EXIT STATUS\n@EXIT_STATUS@\n";

// An exclusion shows on both options, whichever the table lists it with.
TEST(ManPage, OptionsSayWhatTheyExcludeAndNeed) {
    std::vector<OptionDef> options = {{"--a", "", "A", "", {}}, {"--b", "", "B", "", {}}, {"--c", "", "C", "", {}},
                                      {"--d", "", "D", "", {}}};
    options[1].excludes = "--a";
    options[2].conflicts = {{"--a", "no"}};
    options[3].needs = "--c";
    EXPECT_EQ(ExcludedOptions(options[0], options), (std::vector<std::string>{"--b", "--c"}));
    EXPECT_EQ(ExcludedOptions(options[1], options), (std::vector<std::string>{"--a"}));
    EXPECT_EQ(ExcludedOptions(options[2], options), (std::vector<std::string>{"--a"}));
    EXPECT_TRUE(ExcludedOptions(options[3], options).empty());
    const std::string page = ManPage(kTemplate, {"x", "usage: x", "X.", "Exit codes: 0 done.", options}, {}, {});
    EXPECT_THAT(page, AllOf(HasSubstr("A\n.br\nNot with \\fB\\-\\-b\\fR, \\fB\\-\\-c\\fR.\n"),
                            HasSubstr("D\n.br\nOnly with \\fB\\-\\-c\\fR.\n")));
}

TEST(ManPage, TemplateMustPlaceEveryPartAndNoOther) {
    const CommandDocs page = {"vantrel-x", "usage: vantrel-x [--a]", "Does x.", "Note.\nExit codes: 0 done.",
                              {{"--a", "", "A flag", "", {}}}};
    const std::string text = ManPage(kTemplate, page, {}, {"2.0", "2026-01-01"});
    EXPECT_THAT(text, AllOf(HasSubstr(".TH X 1 2026-01-01\n"), HasSubstr("Does x.\n.PP\nNote.\n"),
                            HasSubstr(".SH EXIT STATUS\nExit codes: 0 done.\n"), HasSubstr(".TP\n\\fB\\-\\-a\\fR\nA flag\n")));

    EXPECT_THROW(ManPage(".TH X 1\n@DESCRIPTION@\n@OPTIONS@\n@EXIT_STATUS@\n", page, {}, {}), std::runtime_error);
    EXPECT_THROW(ManPage(kTemplate + "@SUBCOMMANDS@\n", page, {}, {}), std::runtime_error);
    EXPECT_THROW(ManPage(kTemplate + "@AUTHOR@\n", page, {}, {}), std::runtime_error);
}
