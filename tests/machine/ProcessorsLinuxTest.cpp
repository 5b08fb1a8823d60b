// The processors a run may use on Linux: hwloc's synthetic and XML
// topologies (machines this one is not) with CPU sets and quotas, and the
// placement of the workers on this machine.
#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>

#include "engine/PrimeCoordinator.h"
#include "machine/Processors.h"
#include "machine/ProcessorsLinux.h"
#include "runner/JsonForms.h"
#include "runner/RunOptions.h"
#include "tests/support/Recording.h"

namespace {

std::string Sorted(std::vector<uint32_t> processors) {
    std::sort(processors.begin(), processors.end());
    return CpuListText(processors);
}

std::vector<uint32_t> Range(uint32_t first, uint32_t end) {
    std::vector<uint32_t> processors;
    for (uint32_t i = first; i < end; ++i) processors.push_back(i);
    return processors;
}

const std::string kHybridXml = std::string(VANTREL_TEST_TOPOLOGIES) + "/hybrid-8p-16e.xml";
// The same machine where hwloc allows the performance cores' 16 processors only (a cgroup's cpuset).
const std::string kAllowedXml = std::string(VANTREL_TEST_TOPOLOGIES) + "/hybrid-8p-16e-allowed-0-15.xml";

}  // namespace

// Each machine as the reports and the options see it: a 128-processor
// server, a CPU set of 6 of its processors, quotas, a hybrid desktop, and a
// machine whose topology hwloc could not load.
TEST(ProcessorFacts, FromTopologiesCpuSetsAndQuotas) {
    struct Case {
        const char* name;
        TopologySource source;  // empty: no topology
        std::vector<uint32_t> cpuSet;
        std::optional<double> quota;
        std::string processors;  // ProcessorPhrase
        std::string shape;       // ShapePhrase
        std::string offered;     // the thread counts offered
        uint16_t beyondCores;    // FirstCountBeyondCores of them
        nlohmann::json json;     // the fields of the JSON context
    };
    const nlohmann::json kNoKinds = nlohmann::json::array();
    const std::vector<Case> cases = {
        {"2 x 32 x 2", {"pack:2 core:32 pu:2", ""}, Range(0, 128), std::nullopt, "128 logical processors",
         "2 packages, 64 cores, 2 per core, 1 NUMA node (from synthetic topology \"pack:2 core:32 pu:2\", not this "
         "machine)",
         "1 2 4 8 16 32 64 128", 128,
         {{"usable_processors", 128}, {"usable_reason", ""}, {"packages", 2}, {"numa_nodes", 1}, {"cores", 64},
          {"pus_per_core", 2}, {"cpu_kinds", kNoKinds}}},
        {"6 of 128", {"pack:2 numa:2 core:16 pu:2", ""}, Range(0, 6), std::nullopt,
         "128 logical processors, 6 usable (CPU set 0-5)",
         "1 package, 3 cores, 2 per core, 1 NUMA node (from synthetic topology \"pack:2 numa:2 core:16 pu:2\", not "
         "this machine)",
         "1 2 4 6", 4,
         {{"usable_processors", 6}, {"usable_reason", "CPU set 0-5"}, {"packages", 1}, {"numa_nodes", 1},
          {"cores", 3}, {"pus_per_core", 2}}},
        {"a set across packages and NUMA nodes", {"pack:2 numa:2 core:16 pu:2", ""}, {0, 1, 40, 64, 65, 127},
         std::nullopt, "128 logical processors, 6 usable (CPU set 0-1,40,64-65,127)",
         "2 packages, 4 cores, 1 to 2 per core, 4 NUMA nodes (from synthetic topology \"pack:2 numa:2 core:16 pu:2\", "
         "not this machine)",
         "1 2 4 6", 6, {{"usable_processors", 6}, {"packages", 2}, {"numa_nodes", 4}, {"cores", 4}, {"pus_per_core", 2}}},
        {"quota under the set", {"pack:2 core:32 pu:2", ""}, Range(0, 128), 2.5,
         "128 logical processors, 3 usable (CPU quota 2.5)", "", "1 2 3", 0,
         {{"usable_processors", 3}, {"usable_reason", "CPU quota 2.5"}}},
        {"quota and set", {"pack:2 core:32 pu:2", ""}, Range(0, 4), 2.5,
         "128 logical processors, 3 usable (CPU set 0-3, CPU quota 2.5)", "", "1 2 3", 3,
         {{"usable_processors", 3}, {"usable_reason", "CPU set 0-3, CPU quota 2.5"}, {"cores", 2}}},
        {"quota over the set", {"pack:2 core:32 pu:2", ""}, Range(0, 4), 4.0,
         "128 logical processors, 4 usable (CPU set 0-3)", "", "1 2 4", 4,
         {{"usable_processors", 4}, {"usable_reason", "CPU set 0-3"}}},
        {"quota rounded up to the set", {"pack:1 core:2 pu:1", ""}, Range(0, 2), 1.5,
         "2 logical processors, 2 usable (CPU quota 1.5)", "", "1 2", 0,
         {{"usable_processors", 2}, {"usable_reason", "CPU quota 1.5"}}},
        {"hybrid", {"", kHybridXml}, Range(0, 32), std::nullopt, "32 logical processors",
         "1 package, 24 cores, 1 to 2 per core, 1 NUMA node: 8 performance cores, 16 efficiency cores (from topology "
         "file \"" + kHybridXml + "\", not this machine)",
         "1 2 4 8 16 32", 32,
         {{"cores", 24}, {"pus_per_core", 2},
          {"cpu_kinds", {{{"kind", "performance"}, {"cores", 8}, {"processors", 16}},
                         {{"kind", "efficiency"}, {"cores", 16}, {"processors", 16}}}}}},
        {"an affinity wider than what hwloc allows", {"", kAllowedXml}, Range(8, 32), std::nullopt,
         "32 logical processors, 8 usable (CPU set 8-15)", "", "1 2 4 8", 8,
         {{"usable_processors", 8}, {"usable_reason", "CPU set 8-15"}, {"cores", 4}}},
        {"hybrid, efficiency cores only", {"", kHybridXml}, Range(16, 24), std::nullopt,
         "32 logical processors, 8 usable (CPU set 16-23)", "", "1 2 4 8", 0,
         {{"cores", 8}, {"pus_per_core", 1}, {"cpu_kinds", kNoKinds}}},
        {"no topology", {}, {0, 1, 2}, std::nullopt, "8 logical processors, 3 usable (CPU set 0-2)",
         "shape unknown: hwloc could not load it", "1 2 3", 0,
         {{"usable_processors", 3}, {"packages", nullptr}, {"cores", nullptr}, {"cpu_kinds", nullptr},
          {"topology_source", nullptr}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<HwlocTopology> topology;
        if (!c.source.synthetic.empty() || !c.source.xmlFile.empty()) {
            std::string problem;
            topology = HwlocTopology::Load(c.source, problem);
            ASSERT_NE(topology, nullptr) << problem;
        }
        const ProcessorFacts facts = ComposeProcessorFacts(c.cpuSet, c.quota, topology.get(), "hwloc could not load it", 8);
        EXPECT_EQ(ProcessorPhrase(facts), c.processors);
        if (!c.shape.empty()) {
            EXPECT_EQ(ShapePhrase(facts), c.shape);
        }
        const std::vector<uint16_t> offered = OfferedThreadCounts(facts.usable);
        EXPECT_EQ(ThreadCountsText(offered), c.offered);
        EXPECT_EQ(FirstCountBeyondCores(offered, facts), c.beyondCores);
        RunContext context;
        context.processors = ProcessorContextOf(facts, BindMode::None);
        const nlohmann::json json = context;
        for (const auto& [key, value] : c.json.items()) EXPECT_EQ(json.at(key), value) << key;
    }
}

TEST(ProcessorFacts, ATopologyThatCannotLoadSaysWhy) {
    std::string problem;
    EXPECT_EQ(HwlocTopology::Load({"", "/nonexistent/topology.xml"}, problem), nullptr);
    EXPECT_NE(problem.find("/nonexistent/topology.xml"), std::string::npos) << problem;
    EXPECT_EQ(HwlocTopology::Load({"pack:2 bogus:7", ""}, problem), nullptr);
}

TEST(ProcessorFacts, ThisMachine) {
    const ProcessorFacts facts = ReadProcessorFacts();
    ASSERT_TRUE(facts.shape) << facts.shapeProblem;
    EXPECT_TRUE(facts.foreignTopology.empty());
    EXPECT_EQ(facts.inCpuSet, AffinityProcessors().size());
    EXPECT_GE(facts.machine, facts.inCpuSet);
    EXPECT_EQ(facts.shape->Processors(), facts.inCpuSet);
    EXPECT_LE(facts.usable, facts.inCpuSet);
}

TEST(Placement, OrderFillsCoresFirstOrProcessorsInTurn) {
    struct Case {
        TopologySource source;
        BindMode mode;
        std::string order;
    };
    const std::vector<Case> cases = {
        {{"pack:1 core:4 pu:2", ""}, BindMode::Cores, "0 2 4 6 1 3 5 7"},
        {{"pack:1 core:4 pu:2", ""}, BindMode::Pus, "0 1 2 3 4 5 6 7"},
        {{"pack:1 core:4 pu:2", ""}, BindMode::None, ""},
        {{"pack:2 core:2 pu:1", ""}, BindMode::Cores, "0 1 2 3"},
        // The performance cores first, their second threads only after every efficiency core.
        {{"", kHybridXml}, BindMode::Cores,
         "0 2 4 6 8 10 12 14 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 1 3 5 7 9 11 13 15"},
    };
    for (const Case& c : cases) {
        std::string problem;
        const std::unique_ptr<HwlocTopology> topology = HwlocTopology::Load(c.source, problem);
        ASSERT_NE(topology, nullptr) << problem;
        const std::vector<uint32_t> order = PlacementOrder(topology->ShapeOf(topology->Processors()), c.mode);
        std::string text;
        for (uint32_t processor : order) text += (text.empty() ? "" : " ") + std::to_string(processor);
        EXPECT_EQ(text, c.order) << c.source.synthetic << c.source.xmlFile << " " << BindModeName(c.mode);
    }
}

// Each worker reads back where it runs, right after the hook placed it.
TEST(Placement, LandsOnThisMachine) {
    const ProcessorFacts facts = ReadProcessorFacts();
    ASSERT_TRUE(facts.shape);
    const uint16_t threads = uint16_t(std::min<size_t>(facts.shape->Processors(), 4));
    for (BindMode mode : {BindMode::Cores, BindMode::Pus, BindMode::None}) {
        SCOPED_TRACE(BindModeName(mode));
        std::string problem;
        const WorkerStartHook place = WorkerPlacement(mode, facts, problem);
        EXPECT_EQ(problem, "");
        EXPECT_EQ(bool(place), mode != BindMode::None);
        std::mutex lock;
        std::map<uint16_t, std::string> where;
        RecordingTarget target;
        PrimeCoordinator coordinator(&target);
        coordinator.SetWorkerStartHook([&](uint16_t worker, uint16_t count) {
            if (place) place(worker, count);
            const std::string set = Sorted(AffinityProcessors());
            std::lock_guard<std::mutex> hold(lock);
            where[worker] = set;
        });
        ASSERT_EQ(coordinator.Start(100000, threads), StartResult::Started);
        ASSERT_TRUE(target.WaitFinished());
        coordinator.Stop();
        const std::vector<uint32_t> order = PlacementOrder(*facts.shape, mode);
        ASSERT_EQ(where.size(), threads);
        for (uint16_t k = 0; k < threads; ++k) {
            const std::string expected = order.empty() ? facts.cpuSet : std::to_string(order[k % order.size()]);
            EXPECT_EQ(where[k], expected) << "worker " << k;
        }
    }
}
