// The manual pages' and completions' own logic: what reaches groff, and
// which values an option completes to. docs_test.sh checks the generated
// files against the real programs.
#include <gtest/gtest.h>

#include <stdexcept>

#include "packaging/Completion.h"
#include "packaging/ManPage.h"
#include "packaging/Roff.h"

namespace {

const std::string kTemplate = ".TH X 1 @DATE@\n.SH SYNOPSIS\n@SYNOPSIS@\n.SH DESCRIPTION\n@DESCRIPTION@\n"
                              ".SH OPTIONS\n@OPTIONS@\n.SH EXIT STATUS\n@EXIT_STATUS@\n";

TEST(Roff, TextReachesGroffAsWritten) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--task 1M", "\\-\\-task 1M"},
        {"C:\\temp", "C:\\etemp"},
        {".vantrel-1.tmp is kept", "\\&.vantrel\\-1.tmp is kept"},
        {"'quoted' at the start", "\\&'quoted' at the start"},
        {"it's mid-line.", "it's mid\\-line."},
    };
    for (const auto& [text, roff] : cases) EXPECT_EQ(RoffText(text), roff) << text;
}

TEST(Roff, SyntaxSetsNamesBoldAndPlaceholdersItalic) {
    EXPECT_EQ(RoffSyntax("compare BASE [--threads T|all | --sweep] [--format table|csv]"),
              "\\fBcompare\\fR \\fIBASE\\fR [\\fB\\-\\-threads\\fR\\ \\fIT\\fR|\\fBall\\fR\\ |\\ \\fB\\-\\-sweep\\fR] "
              "[\\fB\\-\\-format\\fR\\ \\fBtable\\fR|\\fBcsv\\fR]");
}

TEST(Completion, ValuesComeFromThePlaceholder) {
    struct Case {
        std::string value;
        std::vector<std::string> words;
        bool files;
        std::string extension;
    };
    const std::vector<Case> cases = {
        {"table|csv|json", {"table", "csv", "json"}, false, ""},
        {"T|all", {"all"}, false, ""},
        {"FILE", {}, true, ""},
        {"FILE.svg", {}, true, ".svg"},
        {"DURATION", {}, false, ""},
        {"", {}, false, ""},
    };
    for (const Case& c : cases) {
        const ValueCompletion value = CompletionOf({"--x", c.value, "", "", {}});
        EXPECT_EQ(value.words, c.words) << c.value;
        EXPECT_EQ(value.files, c.files) << c.value;
        EXPECT_EQ(value.extension, c.extension) << c.value;
    }
    const ValueCompletion labels = CompletionOf({"--task", "LABEL", "", "", {}});
    ASSERT_FALSE(labels.words.empty());
    EXPECT_EQ(labels.words.front(), "100K");
    EXPECT_EQ(labels.words.back(), "200M");
}

// A value the completion offers is one the program takes.
TEST(Completion, EveryOfferedValueIsTaken) {
    std::vector<CommandDocs> commands;
    for (const ProgramDocs& program : {RunnerDocs()}) {
        commands.push_back(program.main);
        commands.insert(commands.end(), program.subcommands.begin(), program.subcommands.end());
    }
    size_t offered = 0;
    for (const CommandDocs& command : commands) {
        for (const OptionDef& def : command.options) {
            for (std::string word : CompletionOf(def).words) {
                EXPECT_EQ(def.check(word), "") << command.command << " " << def.name << " " << word;
                ++offered;
            }
        }
    }
    EXPECT_GT(offered, 30u);  // the task labels of the run and history, the formats, the checks
}

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
    EXPECT_NE(page.find("A\n.br\nNot with \\fB\\-\\-b\\fR, \\fB\\-\\-c\\fR.\n"), std::string::npos) << page;
    EXPECT_NE(page.find("D\n.br\nOnly with \\fB\\-\\-c\\fR.\n"), std::string::npos) << page;
}

TEST(ManPage, TemplateMustPlaceEveryPartAndNoOther) {
    const CommandDocs page = {"vantrel-x", "usage: vantrel-x [--a]", "Does x.", "Note.\nExit codes: 0 done.",
                              {{"--a", "", "A flag", "", {}}}};
    const std::string text = ManPage(kTemplate, page, {}, {"2.0", "2026-01-01"});
    EXPECT_NE(text.find(".TH X 1 2026-01-01\n"), std::string::npos);
    EXPECT_NE(text.find("Does x.\n.PP\nNote.\n"), std::string::npos);
    EXPECT_NE(text.find(".SH EXIT STATUS\nExit codes: 0 done.\n"), std::string::npos);
    EXPECT_NE(text.find(".TP\n\\fB\\-\\-a\\fR\nA flag\n"), std::string::npos);

    EXPECT_THROW(ManPage(".TH X 1\n@DESCRIPTION@\n@OPTIONS@\n@EXIT_STATUS@\n", page, {}, {}), std::runtime_error);
    EXPECT_THROW(ManPage(kTemplate + "@SUBCOMMANDS@\n", page, {}, {}), std::runtime_error);
    EXPECT_THROW(ManPage(kTemplate + "@AUTHOR@\n", page, {}, {}), std::runtime_error);
}

}  // namespace
