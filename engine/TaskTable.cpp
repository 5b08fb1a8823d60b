#include "engine/TaskTable.h"

#include <cmath>
#include <thread>

int TaskTable::Find(const std::string& label) {
    for (int i = 0; i < count; ++i) {
        if (Label(i) == label) return i;
    }
    return -1;
}

std::string TaskTable::Label(int index) {
    std::string text;
    if (index < 0 || index >= count) return text;
    for (const wchar_t* p = taskLabels[index]; *p != 0; ++p) text += static_cast<char>(*p);
    return text;
}

int ThreadListExponent(uint32_t processors) {
    if (processors < 1) processors = 1;
    return static_cast<int>(std::log(static_cast<double>(processors)) / std::log(2.0));
}

int ThreadListTop(uint32_t processors) {
    const int k = ThreadListExponent(processors);
    return k > 7 ? 7 : k;
}

uint16_t ThreadCountOfEntry(uint32_t entry) {
    return static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int64_t>(std::pow(2.0, static_cast<double>(entry & 0xFFFF)))));
}

uint32_t LogicalProcessors() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

uint32_t TaskTable::SizeOf(const std::string& label) {
    const int index = Find(label);
    return index < 0 ? 0 : taskSizes[index];
}
