#include "machine/MachineSampler.h"

MachineSampler::MachineSampler(std::unique_ptr<SensorReader> reader_, std::chrono::milliseconds interval_)
    : reader(std::move(reader_)), interval(interval_), thread([this] { Loop(); }) {}

MachineSampler::~MachineSampler() {
    {
        std::lock_guard<std::mutex> guard(lock);
        quit = true;
    }
    wake.notify_all();
    thread.join();
}

void MachineSampler::Sample() { accumulator.Add(reader->Read()); }

void MachineSampler::Begin() {
    {
        std::lock_guard<std::mutex> guard(lock);
        accumulator = SampleAccumulator(reader->OfferedClockMhz());
        Sample();
        running = true;
    }
    wake.notify_all();
}

SampleSummary MachineSampler::End() {
    SampleSummary summary;
    {
        std::lock_guard<std::mutex> guard(lock);
        Sample();
        running = false;
        summary = accumulator.Summary();
    }
    wake.notify_all();
    return summary;
}

void MachineSampler::Loop() {
    std::unique_lock<std::mutex> guard(lock);
    while (!quit) {
        if (!running) {
            wake.wait(guard, [this] { return quit || running; });
            continue;
        }
        // Asleep until the next sample is due, or the run ends.
        if (wake.wait_for(guard, interval, [this] { return quit || !running; })) continue;
        Sample();
    }
}
