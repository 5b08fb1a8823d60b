// The fleet's options: ranks given other options than rank 0 are named.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "mpi/FleetOptions.h"

namespace {

std::vector<std::string> Canonical(const std::vector<std::string>& args) {
    const FleetParseOutcome parsed = ParseFleetCommandLine(args, 2);
    EXPECT_EQ(parsed.action, OptionTable::Ending::Parsed) << parsed.text;
    return CanonicalOptions(parsed.options);
}

TEST(FleetOptions, RanksGivenOtherOptionsThanRankZeroAreNamedWithTheDifference) {
    // The same settings, however given.
    const std::vector<std::string> root = Canonical({"--task", "1M"});
    EXPECT_EQ(root, Canonical({"--deadline", "60m", "--threads", "1", "--repeat", "1"}));
    EXPECT_EQ(OptionsMismatch({root, root, root}), "");

    const std::vector<std::string> small = Canonical({"--task", "100K"});
    EXPECT_EQ(OptionsMismatch({root, small, small, root, Canonical({"--sweep"}), Canonical({"--fail-on-outlier"})}),
              "the ranks were given different options: ranks 1-2 were given --task 100K where rank 0 was given "
              "--task 1M; rank 4 was given --sweep where rank 0 was given --threads 1; rank 5 was given "
              "--fail-on-outlier, which rank 0 was not; every rank must be given the same, so nothing was run");
    // Beyond three kinds, the rest are counted.
    const std::string line = OptionsMismatch({root, small, Canonical({"--repeat", "3"}), Canonical({"--verify", "full"}),
                                              Canonical({"--format", "json"}), Canonical({"--outlier", "5"})});
    EXPECT_THAT(line, ::testing::HasSubstr("rank 3 was given --verify full where rank 0 was given --verify digest; "
                                           "and 2 more ranks; "));
}

}  // namespace
