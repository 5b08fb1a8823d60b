// The values an option completes to, and that the program takes each of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packaging/Completion.h"
#include "packaging/ProgramDocs.h"

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
        SCOPED_TRACE(c.value);
        const ValueCompletion value = CompletionOf({"--x", c.value, "", "", {}});
        EXPECT_EQ(value.words, c.words);
        EXPECT_EQ(value.files, c.files);
        EXPECT_EQ(value.extension, c.extension);
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
