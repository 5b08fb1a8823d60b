// The processor the calling thread runs on now, numbered as the runner
// numbers processors (on Windows 64 * group + number), for tests that check
// where a worker was placed.
#pragma once

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sched.h>
#endif

inline int CurrentProcessor() {
#ifdef _WIN32
    PROCESSOR_NUMBER number{};
    GetCurrentProcessorNumberEx(&number);
    return int(number.Group) * 64 + int(number.Number);
#else
    return sched_getcpu();
#endif
}
