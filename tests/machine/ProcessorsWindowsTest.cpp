// The machine's shape as vantrel-cli.exe reads it from the system's
// processor records, for machines of several groups and of two kinds of core.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "machine/Processors.h"
#include "machine/ProcessorsWindows.h"
#include "runner/RunOptions.h"

namespace {

// The records GetLogicalProcessorInformationEx returns, made by hand.
class Records {
public:
    void Core(WORD group, KAFFINITY mask, BYTE efficiencyClass) {
        SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX& item = Add(RelationProcessorCore);
        item.Processor.Flags = (mask & (mask - 1)) != 0 ? LTP_PC_SMT : 0;
        EfficiencyClassOf(item.Processor) = efficiencyClass;
        item.Processor.GroupCount = 1;
        item.Processor.GroupMask[0].Group = group;
        item.Processor.GroupMask[0].Mask = mask;
    }
    void Package() { Add(RelationProcessorPackage); }
    void NumaNode() { Add(RelationNumaNode); }
    std::optional<MachineShape> Shape() const {
        return ShapeFromProcessorInformation(reinterpret_cast<const uint8_t*>(items.data()),
                                             items.size() * sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX));
    }

private:
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX& Add(LOGICAL_PROCESSOR_RELATIONSHIP relationship) {
        items.emplace_back();
        items.back() = {};
        items.back().Relationship = relationship;
        items.back().Size = sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX);
        return items.back();
    }
    std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX> items;
};

}  // namespace

TEST(WindowsProcessors, ShapeOfThreeGroupsAndOfAHybridMachine) {
    // 160 processors in groups of 64, 64 and 32 (cores of 2), two packages. A
    // 32-bit process's masks hold 32 processors of a group: it sees 96.
    const uint32_t width = sizeof(KAFFINITY) * 8;
    const uint32_t seen[] = {std::min(64u, width), std::min(64u, width), 32};
    Records server;
    server.Package();
    server.Package();
    server.NumaNode();
    server.NumaNode();
    for (WORD group = 0; group < 3; ++group) {
        for (uint32_t bit = 0; bit < seen[group]; bit += 2) server.Core(group, KAFFINITY(3) << bit, 0);
    }
    std::optional<MachineShape> shape = server.Shape();
    ASSERT_TRUE(shape);
    ProcessorFacts facts(160);
    facts.shape = shape;
    const uint32_t cores = (seen[0] + seen[1] + seen[2]) / 2;
    EXPECT_EQ(ShapePhrase(facts), "2 packages, " + std::to_string(cores) + " cores, 2 per core, 2 NUMA nodes");
    EXPECT_EQ(ThreadCountsText(OfferedThreadCounts(facts.usable)), "1 2 4 8 16 32 64 128 160");
    EXPECT_EQ(FirstCountBeyondCores(OfferedThreadCounts(facts.usable), facts), width == 64 ? 128 : 64);
    // A core of the second group holds processors 64 * 1 + bit.
    EXPECT_EQ(shape->cores[seen[0] / 2], (std::vector<uint32_t>{64, 65}));
    EXPECT_EQ(shape->cores.back(), (std::vector<uint32_t>{158, 159}));

    // 8 performance cores of 2 processors (class 1) after 16 efficiency cores (class 0).
    Records desktop;
    desktop.Package();
    for (uint32_t core = 0; core < 16; ++core) desktop.Core(0, KAFFINITY(1) << (16 + core), 0);
    for (uint32_t core = 0; core < 8; ++core) desktop.Core(0, KAFFINITY(3) << (2 * core), 1);
    shape = desktop.Shape();
    ASSERT_TRUE(shape);
    facts = ProcessorFacts(32);
    facts.shape = shape;
    EXPECT_EQ(ShapePhrase(facts),
              "1 package, 24 cores, 1 to 2 per core, 1 NUMA node: 8 performance cores, 16 efficiency cores");
    EXPECT_EQ(PlacementOrder(*shape, BindMode::Cores).front(), 0u);  // the performance cores first
    EXPECT_EQ(PlacementOrder(*shape, BindMode::Cores)[8], 16u);

    EXPECT_FALSE(Records().Shape());
}

TEST(WindowsProcessors, ThisMachine) {
    const ProcessorFacts facts = ReadProcessorFacts();
    ASSERT_TRUE(facts.shape) << facts.shapeProblem;
    EXPECT_EQ(facts.usable, facts.machine);
    EXPECT_EQ(facts.shape->Processors(), facts.machine);
    std::string problem;
    EXPECT_FALSE(WorkerPlacement(BindMode::None, facts, problem));  // one group: nothing to place
    EXPECT_TRUE(WorkerPlacement(BindMode::Cores, facts, problem));
    EXPECT_EQ(problem, "");
}
