// ARM machines as a report describes them: the /proc/cpuinfo of several
// (tests/machine/cpuinfo) named, and what hwloc reads of each shaped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "machine/ArmCpu.h"
#include "machine/HwlocTopology.h"
#include "machine/ProcessorsLinux.h"

namespace {

std::string Cpuinfo(const std::string& file) {
    std::ifstream in(std::string(VANTREL_TEST_CPUINFO) + "/" + file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<uint32_t> Range(uint32_t end) {
    std::vector<uint32_t> processors(end);
    for (uint32_t i = 0; i < end; ++i) processors[i] = i;
    return processors;
}

}  // namespace

TEST(ArmCpu, MachinesNamedAndShapedAsAPersonKnowsThem) {
    struct Case {
        const char* cpuinfo;
        TopologySource topology;
        uint32_t processors;
        std::string name;
        std::string shape;  // ShapePhrase up to the topology's source
    };
    const std::string bigLittle = std::string(VANTREL_TEST_TOPOLOGIES) + "/rk3588-big-little.xml";
    const std::vector<Case> cases = {
        {"graviton2-neoverse-n1-64.txt", {"pack:1 core:64 pu:1", ""}, 64, "ARM Neoverse-N1",
         "1 package, 64 cores, 1 per core, 1 NUMA node"},
        {"grace-neoverse-v2-72.txt", {"pack:1 core:72 pu:1", ""}, 72, "ARM Neoverse-V2",
         "1 package, 72 cores, 1 per core, 1 NUMA node"},
        {"ampereone-ampere-1a-96.txt", {"pack:1 numa:2 core:48 pu:1", ""}, 96, "Ampere-1a",
         "1 package, 96 cores, 1 per core, 2 NUMA nodes"},
        {"raspberry-pi-4.txt", {"pack:1 core:4 pu:1", ""}, 4, "ARM Cortex-A72 (Raspberry Pi 4 Model B Rev 1.4)",
         "1 package, 4 cores, 1 per core, 1 NUMA node"},
        {"raspberry-pi-5.txt", {"pack:1 core:4 pu:1", ""}, 4, "ARM Cortex-A76 (Raspberry Pi 5 Model B Rev 1.0)",
         "1 package, 4 cores, 1 per core, 1 NUMA node"},
        {"rk3588-big-little.txt", {"", bigLittle}, 8, "4 x ARM Cortex-A76 + 4 x ARM Cortex-A55",
         "1 package, 8 cores, 1 per core, 1 NUMA node: 4 performance cores, 4 efficiency cores"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cpuinfo);
        EXPECT_EQ(ArmCpuName(Cpuinfo(c.cpuinfo)), c.name);
        std::string problem;
        const std::unique_ptr<HwlocTopology> topology = HwlocTopology::Load(c.topology, problem);
        ASSERT_NE(topology, nullptr) << problem;
        const ProcessorFacts facts = ComposeProcessorFacts(Range(c.processors), std::nullopt, topology.get(), "", c.processors);
        EXPECT_THAT(ShapePhrase(facts), testing::StartsWith(c.shape + " (from "));
    }
}

TEST(ArmCpu, CodesOutsideTheTableNamedByThemselves) {
    const auto block = [](std::string implementer, std::string part) {
        return "processor\t: 0\nCPU implementer\t: " + implementer + "\nCPU part\t: " + part + "\n\n";
    };
    const std::pair<std::string, std::string> cases[] = {
        {block("0x41", "0xfff"), "ARM implementer 0x41 part 0xfff"},
        {block("0x9", "0x1"), "ARM implementer 0x09 part 0x001"},
        {block("0xc0", "0xac3") + block("0x41", "0xd03"), "1 x Ampere-1 + 1 x ARM Cortex-A53"},
        {block("0x41", "0xd0c") + block("0x41", "0xd0c"), "ARM Neoverse-N1"},
        // No ARM processor: x86, a part without its implementer, codes that are not hexadecimal numbers.
        {"processor\t: 0\nmodel name\t: Intel(R) Xeon(R) Processor\nModel\t: 85\n", ""},
        {"processor\t: 0\nCPU part\t: 0xd0c\n", ""},
        {block("0x41", "d0c") + block("0x41x", "0xd0c"), ""},
    };
    for (const auto& [cpuinfo, name] : cases) EXPECT_EQ(ArmCpuName(cpuinfo), name) << cpuinfo;
}
