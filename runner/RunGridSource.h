// The runs of an invocation as the rows of a grid file: one row per run, its
// four cells as the Windows program's grid shows them.
#pragma once

#include <vector>

#include "runner/RunRecord.h"
#include "export/GridSource.h"

class RunGridSource final : public IGridSource {
public:
    // Borrows `runs`; they must stay unchanged while a writer reads them.
    explicit RunGridSource(const std::vector<RunRecord>& runs_) : runs(runs_) {}

    int32_t RowCount() override;

    // Task, Thread Count, Last Prime and Time, copied into `buffer` as UTF-16
    // (the texts are ASCII) and cut to kCellUnits - 1 units as the list view
    // cuts them. An empty cell is delivered as empty text; a row or column
    // that does not exist is not delivered.
    const char16_t* CellText(int32_t row, int32_t column, char16_t* buffer) override;

private:
    const std::vector<RunRecord>& runs;
};
