#include "engine/RunText.h"

#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Adds one to the decimal digit string at position pos and carries left.
// Returns true if the carry ran off the front (999 -> 1000).
bool IncrementAt(std::string& digits, int pos) {
    for (int i = pos; i >= 0; --i) {
        if (digits[size_t(i)] != '9') {
            ++digits[size_t(i)];
            return false;
        }
        digits[size_t(i)] = '0';
    }
    digits.insert(digits.begin(), '1');
    return true;
}

}  // namespace

std::string FormatFixed2(double value, int width) {
    std::string out;
    if (std::isnan(value) || std::isinf(value)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.2f", value);
        out = buf;
    } else {
        const bool negative = std::signbit(value) && value != 0.0;
        if (negative) value = -value;
        std::string digits = "0";
        int pointPos = 1;  // digits before the decimal point
        if (value != 0.0) {
            // The exact decimal expansion: a double has at most 767
            // significant digits, so this prints it without rounding.
            static thread_local char buf[1100];
            std::snprintf(buf, sizeof buf, "%.800e", value);
            const char* e = std::strchr(buf, 'e');
            const int exponent = std::atoi(e + 1);
            std::string all;
            for (const char* p = buf; p < e; ++p) {
                if (*p >= '0' && *p <= '9') all += *p;
            }
            // Step 1: 17 significant digits, half up (the 18th digit decides).
            digits = all.substr(0, 17);
            pointPos = exponent + 1;
            if (all.size() > 17 && all[17] >= '5' && IncrementAt(digits, 16)) {
                digits.pop_back();
                ++pointPos;
            }
            // Place the digits around the decimal point.
            if (pointPos <= 0) {
                digits.insert(0, size_t(1 - pointPos), '0');
                pointPos = 1;
            }
            if (int(digits.size()) < pointPos + 3) digits.append(size_t(pointPos + 3 - int(digits.size())), '0');
        } else {
            digits = "0000";
        }
        // Step 2: two decimals, half up (the third decimal decides).
        std::string kept = digits.substr(0, size_t(pointPos + 2));
        if (digits[size_t(pointPos + 2)] >= '5' && IncrementAt(kept, pointPos + 1)) ++pointPos;
        size_t lead = 0;
        while (int(lead) < pointPos - 1 && kept[lead] == '0') ++lead;
        if (negative) out += '-';
        out.append(kept, lead, size_t(pointPos) - lead);
        out += '.';
        out.append(kept, size_t(pointPos), 2);
    }
    if (int(out.size()) >= width) return out;
    std::string padded(size_t(width) - out.size(), ' ');
    padded += out;
    return padded;
}

std::string ThreadCountText(uint32_t threads) {
    if (threads == 1) return "1 core";
    std::string text = std::to_string(threads);
    text += " cores";
    return text;
}

std::string TimeText(double seconds) {
    std::string text = FormatFixed2(seconds, 5);
    text += " sec";
    return text;
}

std::string ProgressPrimeText(uint32_t prime, uint32_t index, uint32_t n) {
    const double percent = static_cast<double>(index) * 100.0 / static_cast<double>(n);
    std::string text = std::to_string(prime);
    text += " (";
    text += FormatFixed2(percent, 2);
    text += "%)";
    return text;
}

std::string FinishedPrimeText(uint32_t prime) { return std::to_string(prime); }

std::string TitleText(const std::string& base, uint32_t high, uint32_t pos, uint32_t low) {
    if (pos == 0) return base;
    const double percent = static_cast<double>(pos) * 100.0 / static_cast<double>(high - low);
    std::string text = base;
    text += " (";
    text += FormatFixed2(percent, 2);
    text += "%)";
    return text;
}
