// What the machine did during a run: a sampler thread reads the sensors
// about once a second while a run goes on (and sleeps in between), and sums
// the samples up when the run ends. Portable: the readers are Sensors.h's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "machine/SampleSummary.h"
#include "machine/Sensors.h"

// About once a second: often enough to see a clock fall or a counter wrap,
// seldom enough to cost nothing measurable (docs/benchmarks.md).
constexpr std::chrono::milliseconds kSampleInterval{1000};

class MachineSampler {
public:
    // Reads `reader` at Begin and End of each run, and every `interval` in between.
    MachineSampler(std::unique_ptr<SensorReader> reader, std::chrono::milliseconds interval);
    ~MachineSampler();
    MachineSampler(const MachineSampler&) = delete;
    MachineSampler& operator=(const MachineSampler&) = delete;

    void Begin();
    SampleSummary End();

    const SensorSources& Sources() const { return reader->Sources(); }

private:
    void Sample();  // REQUIRES: lock held
    void Loop();

    std::unique_ptr<SensorReader> reader;
    const std::chrono::milliseconds interval;
    std::mutex lock;
    std::condition_variable wake;
    bool running = false;  // under lock: between Begin and End
    bool quit = false;     // under lock
    SampleAccumulator accumulator;  // under lock
    std::thread thread;    // last: started once the rest is set up
};
