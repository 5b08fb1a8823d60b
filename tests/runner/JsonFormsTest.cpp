// The JSON forms of a run's context, read back as compare reads a report.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "runner/JsonForms.h"
#include "tests/support/ProcessorContexts.h"
#include "tests/support/Runs.h"

// The processors a run could use and the machine's shape, through JSON back into a context.
TEST(JsonForms, AContextReadsBackWithItsProcessors) {
    RunContext context = SomeContext();
    context.logicalProcessors = 16;
    context.processors = BoundHybridProcessors();
    const nlohmann::ordered_json json = context;
    const RunContext back = nlohmann::json::parse(json.dump()).get<RunContext>();
    EXPECT_TRUE(back.processors == context.processors);
    EXPECT_EQ(back.logicalProcessors, 16u);
    EXPECT_EQ(back.cpu, context.cpu);
    // A report from before the processors were stated reads as stating none.
    // It is written back stating none of them either: unknown, not "none" or 0.
    nlohmann::json older = json;
    const char* const kProcessorKeys[] = {"usable_processors", "usable_reason", "shape", "packages", "numa_nodes",
                                          "cores", "pus_per_core", "cpu_kinds", "topology_source", "bind"};
    for (const char* key : kProcessorKeys) older.erase(key);
    const RunContext unstated = older.get<RunContext>();
    EXPECT_TRUE(unstated.processors == ProcessorContext{});
    const nlohmann::json again = unstated;
    for (const char* key : kProcessorKeys) EXPECT_EQ(again.at(key), nullptr) << key;
}
