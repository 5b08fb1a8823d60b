#include "runner/RunGridSource.h"

#include <limits>
#include <string>

int32_t RunGridSource::RowCount() {
    return runs.size() > size_t(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                                      : int32_t(runs.size());
}

const char16_t* RunGridSource::CellText(int32_t row, int32_t column, char16_t* buffer) {
    if (row < 0 || size_t(row) >= runs.size() || buffer == nullptr) return nullptr;
    const RunRecord& run = runs[size_t(row)];
    const std::string* text = nullptr;
    switch (column) {
        case 0: text = &run.task; break;
        case 1: text = &run.threadText; break;
        case 2: text = &run.primeText; break;
        case 3: text = &run.timeText; break;
        default: return nullptr;
    }
    size_t units = 0;
    for (; units < size_t(kCellUnits - 1) && units < text->size(); ++units) {
        buffer[units] = char16_t(static_cast<unsigned char>((*text)[units]));
    }
    buffer[units] = 0;
    return buffer;
}
