#include <gmock/gmock.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "cli/CliOptions.h"
#include "engine/TaskTable.h"
#include "results/Charts.h"
#include "results/ResultStore.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

ParseOutcome Parse(std::vector<std::string> args, uint32_t processors = 8) {
    return ParseCommandLine(args, processors);
}

// A usage error is one line that names every value given in `valid`.
void ExpectUsageError(const ParseOutcome& outcome, const std::vector<std::string>& valid) {
    ASSERT_EQ(outcome.action, CliAction::UsageError) << outcome.text;
    EXPECT_THAT(outcome.text, Not(HasSubstr("\n")));
    for (const std::string& value : valid) EXPECT_THAT(outcome.text, HasSubstr(value));
}

std::vector<std::string> AllLabels() {
    std::vector<std::string> labels;
    for (int i = 0; i < TaskTable::count; ++i) labels.push_back(TaskTable::Label(i));
    return labels;
}

TEST(CliOptions, DefaultsRunOneMillionPrimesOnOneThreadAsATable) {
    const ParseOutcome outcome = Parse({});
    ASSERT_EQ(outcome.action, CliAction::Run) << outcome.text;
    EXPECT_EQ(TaskTable::Label(outcome.options.taskIndex), "1M");
    EXPECT_EQ(outcome.options.threadCounts, std::vector<uint16_t>{1});
    EXPECT_FALSE(outcome.options.sweep);
    EXPECT_EQ(outcome.options.repeat, 1);
    EXPECT_EQ(outcome.options.format, ReportFormat::Table);
    EXPECT_FALSE(outcome.options.events);
}

TEST(CliOptions, EveryTaskLabelSelectsItsRowInEitherCaseAndNothingElseIsATask) {
    for (int i = 0; i < TaskTable::count; ++i) {
        const ParseOutcome outcome = Parse({"--task", TaskTable::Label(i)});
        ASSERT_EQ(outcome.action, CliAction::Run) << TaskTable::Label(i);
        EXPECT_EQ(outcome.options.taskIndex, i);
    }
    EXPECT_EQ(Parse({"--task=200M"}).options.taskIndex, TaskTable::count - 1);
    EXPECT_EQ(TaskTable::Label(Parse({"--task", "1m"}).options.taskIndex), "1M");
    EXPECT_EQ(TaskTable::Label(Parse({"--task", "100k"}).options.taskIndex), "100K");
    if (ResultStoreAvailable()) {
        EXPECT_EQ(Parse({"history", "--task", "10m"}).history.task, "10M");
    }
    for (const char* bad : {"7M", "1000000", "", " 1M", "1MM"}) {
        SCOPED_TRACE(bad);
        ExpectUsageError(Parse({"--task", bad}), AllLabels());
    }
}

TEST(CliOptions, AnyThreadCountUpToTheUsableProcessorsOrAllAndASweepOfThemAll) {
    // usable processors, arguments, the thread counts run, or none when refused with these words.
    const std::vector<std::tuple<uint32_t, std::vector<std::string>, std::vector<uint16_t>, std::vector<std::string>>>
        cases = {
            {12, {"--threads", "12"}, {12}, {}},
            {12, {"--threads", "7"}, {7}, {}},
            {12, {"--threads", "all"}, {12}, {}},
            {6, {"--sweep"}, {1, 2, 4, 6}, {}},
            {12, {"--sweep"}, {1, 2, 4, 8, 12}, {}},
            {1, {"--sweep"}, {1}, {}},
            {1024, {"--threads", "all"}, {255}, {}},
            {12, {"--threads", "13"}, {}, {"\"13\" is more than the usable", "one thread per usable", "1 to 12, or all"}},
            {1, {"--threads", "2"}, {}, {"more than the usable", "1, or all"}},
            {1024, {"--threads", "256"}, {}, {"1 to 255, or all"}},
            {8, {"--threads", "65538"}, {}, {"more than the usable", "1 to 8, or all"}},
            {12, {"--threads", "2", "--sweep"}, {}, {"--threads", "--sweep", "1 to 12, or all"}},
            {4, {"--threads"}, {}, {"1 to 4, or all"}},
            {4, {"--threads", "--events"}, {}, {"1 to 4, or all"}},
        };
    for (const auto& [usable, args, counts, words] : cases) {
        SCOPED_TRACE(std::to_string(usable) + " usable: " + args.back());
        const ParseOutcome outcome = Parse(args, usable);
        if (counts.empty()) {
            ExpectUsageError(outcome, words);
        } else {
            ASSERT_EQ(outcome.action, CliAction::Run) << outcome.text;
            EXPECT_EQ(outcome.options.threadCounts, counts);
        }
    }
    for (const char* bad : {"0", "-1", "2.0", "0x2", "two", "ALL", ""}) {
        SCOPED_TRACE(bad);
        ExpectUsageError(Parse({"--threads", bad}, 8), {"is not valid", "1 to 8, or all"});
    }
}

TEST(CliOptions, RepeatFormatAndEvents) {
    EXPECT_EQ(Parse({"--repeat", "1"}).options.repeat, 1);
    EXPECT_EQ(Parse({"--repeat", "1000"}).options.repeat, 1000);
    for (const char* bad : {"0", "1001", "-1", "x", "99999"}) {
        SCOPED_TRACE(bad);
        ExpectUsageError(Parse({"--repeat", bad}), {"1 to 1000"});
    }
    EXPECT_EQ(Parse({"--format", "csv"}).options.format, ReportFormat::Csv);
    EXPECT_EQ(Parse({"--format", "json"}).options.format, ReportFormat::Json);
    EXPECT_EQ(Parse({"--format", "table"}).options.format, ReportFormat::Table);
    ExpectUsageError(Parse({"--format", "CSV"}), {"table", "csv", "json"});
    EXPECT_TRUE(Parse({"--events"}).options.events);
    ExpectUsageError(Parse({"--events=1"}), {"--events"});
}

TEST(CliOptions, MalformedCommandLinesNameTheValidValues) {
    const std::vector<std::string> options = {"--task", "--threads", "--sweep", "--repeat", "--format", "--events"};
    ExpectUsageError(Parse({"--frobnicate"}), options);
    ExpectUsageError(Parse({"1M"}), options);
    ExpectUsageError(Parse({"-t", "2"}), options);
    // A value left out, at the end or before the next option.
    ExpectUsageError(Parse({"--task"}), AllLabels());
    ExpectUsageError(Parse({"--task", "--sweep"}), AllLabels());
    ExpectUsageError(Parse({"--repeat"}), {"1 to 1000"});
    ExpectUsageError(Parse({"--format"}), {"table", "csv", "json"});
    ExpectUsageError(Parse({"--task", "1M", "--task", "2M"}), AllLabels());
}

TEST(CliOptions, SaveOptionsTakeOneUsableFileNameEach) {
    const ParseOutcome both = Parse({"--save-primes", "out/primes.txt", "--save-grid=grid.txt"});
    ASSERT_EQ(both.action, CliAction::Run) << both.text;
    EXPECT_EQ(both.options.savePrimes, "out/primes.txt");
    EXPECT_EQ(both.options.saveGrid, "grid.txt");
    EXPECT_EQ(Parse({}).options.savePrimes, "");
    EXPECT_EQ(Parse({}).options.saveGrid, "");

    const std::string longest(259, 'n');
    EXPECT_EQ(Parse({"--save-grid", longest}).options.saveGrid, longest);
    for (const char* option : {"--save-primes", "--save-grid"}) {
        SCOPED_TRACE(option);
        // Empty, left out, cut by the job's 259 units, or given twice: nothing may run.
        ExpectUsageError(Parse({option, ""}), {option, "259"});
        ExpectUsageError(Parse({std::string(option) + "="}), {option});
        ExpectUsageError(Parse({option}), {option, "259"});
        ExpectUsageError(Parse({option, "--events"}), {option, "259"});
        ExpectUsageError(Parse({option, longest + "n"}), {option, "259"});
        ExpectUsageError(Parse({option, "a", option, "b"}), {option, "more than once"});
    }
    // Both files the same: the grid would overwrite the primes.
    ExpectUsageError(Parse({"--save-primes", "r.txt", "--save-grid", "./r.txt"}), {"--save-primes", "--save-grid"});
    ExpectUsageError(Parse({"--save-primes", "d/../r.txt", "--save-grid", "r.txt"}), {"same file"});
}

TEST(CliOptions, StressTakesADurationAnyThreadCountUpTo255AndNoSweepRepeatOrPrimes) {
    const ParseOutcome stress = Parse({"--stress", "90s"}, 6);
    ASSERT_EQ(stress.action, CliAction::Run) << stress.text;
    EXPECT_EQ(stress.options.stressSeconds, 90);
    EXPECT_EQ(TaskTable::Label(stress.options.taskIndex), "10M");
    EXPECT_EQ(stress.options.threadCounts, std::vector<uint16_t>{6});  // every processor, not a power of two
    EXPECT_FALSE(stress.options.keepGoing);
    EXPECT_EQ(stress.options.verify, VerifyMode::Digest);
    const ParseOutcome given = Parse({"--stress=168h", "--task", "100K", "--threads", "3", "--keep-going", "--verify",
                                      "full", "--save-grid", "g.txt"}, 8);
    ASSERT_EQ(given.action, CliAction::Run) << given.text;
    EXPECT_EQ(given.options.stressSeconds, 7 * 24 * 3600);
    EXPECT_EQ(given.options.taskIndex, 0);
    EXPECT_EQ(given.options.threadCounts, std::vector<uint16_t>{3});
    EXPECT_TRUE(given.options.keepGoing);
    EXPECT_EQ(given.options.verify, VerifyMode::Full);
    EXPECT_EQ(Parse({"--stress", "10m"}).options.stressSeconds, 600);
    EXPECT_EQ(Parse({"--stress", "2h", "--threads", "all"}, 300).options.threadCounts, std::vector<uint16_t>{255});
    EXPECT_EQ(Parse({"--stress", "2h", "--threads", "255"}, 2).options.threadCounts, std::vector<uint16_t>{255});

    for (const char* bad : {"0s", "0h", "169h", "604801s", "10", "10x", "1h30m", "s", "-1s", "", "9999999999s", "1.5h"}) {
        SCOPED_TRACE(bad);
        ExpectUsageError(Parse({"--stress", bad}), {"valid durations", "7 days"});
    }
    for (const char* bad : {"0", "256", "-1", "two", "", "ALL"}) {
        SCOPED_TRACE(bad);
        ExpectUsageError(Parse({"--stress", "1s", "--threads", bad}), {"1 to 255", "all"});
    }
    ExpectUsageError(Parse({"--stress", "1s", "--sweep"}), {"--stress and --sweep"});
    ExpectUsageError(Parse({"--stress", "1s", "--repeat", "2"}), {"--stress and --repeat"});
    ExpectUsageError(Parse({"--save-primes", "p.txt", "--stress", "1s"}), {"--stress and --save-primes", "--save-grid"});
    ExpectUsageError(Parse({"--keep-going"}), {"--keep-going goes with --stress"});
    ExpectUsageError(Parse({"--verify", "last"}), {"digest", "full"});
}

// The tests run with VANTREL_DB unset (tests/cli/CMakeLists.txt).
TEST(CliOptions, StoreLabelAndChartOfARun) {
    ExpectUsageError(Parse({"--label", "x"}), {"--label goes with a result store", "--db FILE"});
    if (!ResultStoreAvailable()) {
        // A build without them refuses the options before anything runs, saying why.
        ExpectUsageError(Parse({"--db", "r.db"}), {"this build of vantrel-cli has no result store", "--format json"});
    }
    if (!ChartsAvailable()) ExpectUsageError(Parse({"--sweep", "--plot", "s.svg"}), {"draws no charts"});
    if (!ResultStoreAvailable() || !ChartsAvailable()) return;

    const ParseOutcome run = Parse({"--task", "100K", "--sweep", "--db", "r.db", "--label", "a \"b\"", "--plot", "s.svg"});
    ASSERT_EQ(run.action, CliAction::Run) << run.text;
    EXPECT_EQ(run.options.db, "r.db");
    EXPECT_EQ(run.options.label, "a \"b\"");
    EXPECT_EQ(run.options.plot, "s.svg");
    EXPECT_EQ(run.options.commandLine, "vantrel-cli --task 100K --sweep --db r.db --label \"a \\\"b\\\"\" --plot s.svg");
    ExpectUsageError(Parse({"--plot", "s.svg"}), {"goes with --sweep only", "history --plot"});
    ExpectUsageError(Parse({"--db", ""}), {"--db needs a file name"});
    ExpectUsageError(Parse({"--sweep", "--plot", "a\nb.svg"}), {"--plot cannot take \"a?b.svg\""});
}

TEST(CliOptions, HistoryAndCompareTakeTheirOwnOptions) {
    const ParseOutcome history =
        Parse({"history", "--db", "r.db", "--task", "1M", "--threads", "3", "--last", "2", "--format", "csv", "--plot", "h.svg"});
    if (ResultStoreAvailable()) {
        ASSERT_EQ(history.action, CliAction::History) << history.text;
        EXPECT_EQ(history.history.db, "r.db");
        EXPECT_EQ(history.history.task, "1M");
        EXPECT_EQ(history.history.threads, std::optional<uint16_t>(3));
        EXPECT_EQ(history.history.last, 2);
        EXPECT_EQ(history.history.format, ReportFormat::Csv);
        EXPECT_EQ(history.history.plot, "h.svg");
        EXPECT_EQ(Parse({"history"}).history.threads, std::nullopt);
    } else {
        ExpectUsageError(history, {"history: this build of vantrel-cli has no result store"});
    }
    const ParseOutcome compare = Parse({"compare", "a.json", "db:r.db:last", "--fail-on-slowdown", "2.5", "--alpha=0.01"});
    ASSERT_EQ(compare.action, CliAction::Compare) << compare.text;
    EXPECT_EQ(compare.compare.baseSource, "a.json");
    EXPECT_EQ(compare.compare.newSource, "db:r.db:last");
    EXPECT_EQ(compare.compare.failOnSlowdownPercent, std::optional<double>(2.5));
    EXPECT_EQ(compare.compare.alpha, 0.01);
    EXPECT_EQ(Parse({"compare", "a", "b"}).compare.failOnSlowdownPercent, std::nullopt);

    // Each refusal is one line with the subcommand's own usage line.
    const std::string historyUsage = "usage: vantrel-cli history [--db FILE] [--task LABEL] [--threads T] [--last N]";
    const std::string compareUsage = "usage: vantrel-cli compare BASE NEW [--fail-on-slowdown PCT] [--alpha A]";
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::vector<std::string>>> refused = {
        {{"history", "--task", "7M"}, historyUsage, AllLabels()},
        {{"history", "--threads", "256"}, historyUsage, {"1 to 255"}},
        {{"history", "--sweep"}, historyUsage, {"unknown argument \"--sweep\"", "--db FILE, --task LABEL"}},
        {{"--task", "1M", "history"}, historyUsage, {"\"history\" comes first", "--task"}},
        {{"compare", "a.json"}, compareUsage, {"BASE and NEW", "db:FILE:last~K"}},
        {{"compare", "a", "b", "c"}, compareUsage, {"unknown argument \"c\"", "--alpha A"}},
        {{"compare", "a", "b", "--alpha", "1"}, compareUsage, {"between 0 and 1"}},
        {{"compare", "a", "b", "--alpha", "1e-3"}, compareUsage, {"between 0 and 1"}},
        {{"compare", "a", "b", "--fail-on-slowdown", "-1"}, compareUsage, {"0 or more"}},
    };
    for (const auto& [args, usage, valid] : refused) {
        SCOPED_TRACE(args.front() + " " + args.back());
        const ParseOutcome outcome = Parse(args);
        ExpectUsageError(outcome, valid);
        EXPECT_THAT(outcome.usage, StartsWith(usage));
    }

    const ParseOutcome historyHelp = Parse({"history", "--task", "7M", "--help"});
    ASSERT_EQ(historyHelp.action, CliAction::Help) << historyHelp.text;
    EXPECT_THAT(historyHelp.text, AllOf(HasSubstr("vantrel-cli history"), HasSubstr("--last N")));
    const ParseOutcome compareHelp = Parse({"compare", "--help"});
    ASSERT_EQ(compareHelp.action, CliAction::Help) << compareHelp.text;
    EXPECT_THAT(compareHelp.text, HasSubstr("--fail-on-slowdown PCT"));
}

TEST(CliOptions, HelpAndVersion) {
    const ParseOutcome help = Parse({"--help"});
    ASSERT_EQ(help.action, CliAction::Help);
    for (const char* option : {"--task", "--threads", "--sweep", "--repeat", "--format", "--events", "--save-primes",
                               "--save-grid", "--verify", "--stress", "--keep-going", "--db", "--label", "--plot",
                               "history", "compare"}) {
        EXPECT_THAT(help.text, HasSubstr(option));
    }
    const ParseOutcome version = Parse({"--task", "1M", "--version"});
    ASSERT_EQ(version.action, CliAction::Version);
    EXPECT_EQ(version.text, "vantrel-cli 2.0\n");
}

}  // namespace
