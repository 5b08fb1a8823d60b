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
    nlohmann::json older = json;
    for (const char* key : {"usable_processors", "usable_reason", "shape", "packages", "numa_nodes", "cores",
                            "pus_per_core", "cpu_kinds", "topology_source", "bind"}) {
        older.erase(key);
    }
    EXPECT_TRUE(older.get<RunContext>().processors == ProcessorContext{});
}
