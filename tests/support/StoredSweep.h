// An invocation as the result store keeps it.
#pragma once

#include <cstdint>
#include <string>

#include "results/ResultStore.h"

// A sweep of 1M on 1 and 2 threads, `repeat` runs each; seconds
// `base`, `base` + 0.01, ... on 1 thread and half of that on 2.
inline StoredInvocation Sweep(const std::string& label, int repeat, double base = 1.0) {
    StoredInvocation invocation;
    invocation.context.version = "2.0";
    invocation.context.cpu = "Test CPU";
    invocation.context.logicalProcessors = 2;
    invocation.context.date = "2026-01-02T03:04:05Z";
    invocation.commandLine = "vantrel-cli --sweep --repeat " + std::to_string(repeat);
    invocation.label = label;
    for (uint16_t threads : {1, 2}) {
        for (int i = 0; i < repeat; ++i) {
            StoredRun run;
            run.task = "1M";
            run.primes = 1000000;
            run.threads = threads;
            run.seconds = (base + 0.01 * i) / threads;
            run.lastPrime = 15485863;
            run.status = RunStatus::Finished;
            invocation.runs.push_back(run);
        }
    }
    return invocation;
}
