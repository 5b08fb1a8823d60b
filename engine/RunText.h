// The texts a run is shown with, identical in the Windows program and the runner.
#pragma once

#include <cstdint>
#include <string>

// printf's "%W.2f" of value, with the rounding the program has always shown:
// the double is first rounded half up to 17 significant digits, and that
// digit string is then rounded half up to two decimals. So 0.105 shows 0.11,
// 0.125 shows 0.13 and 0.015 shows 0.01. Padded on the left with spaces to
// at least `width` characters, never cut.
std::string FormatFixed2(double value, int width = 0);

// "1 core" for one thread, "%lu cores" otherwise.
std::string ThreadCountText(uint32_t threads);

// "%5.2f sec"
std::string TimeText(double seconds);

// While a run goes on: "%lu (%2.2f%%)" of the prime and index * 100 / n.
std::string ProgressPrimeText(uint32_t prime, uint32_t index, uint32_t n);

// Once finished: "%lu" of the prime.
std::string FinishedPrimeText(uint32_t prime);

// The window title: the base alone while pos is 0, else
// "%s (%2.2f%%)" of the base and pos * 100 / (high - low) (unsigned 32-bit difference).
std::string TitleText(const std::string& base, uint32_t high, uint32_t pos, uint32_t low);
