// The rows a grid file is written from: the runs in the grid's cell texts.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "export/GridFile.h"
#include "runner/RunGridSource.h"
#include "tests/support/Runs.h"

namespace {

std::u16string Cell(RunGridSource& rows, int32_t row, int32_t column) {
    char16_t buffer[IGridSource::kCellUnits] = {};
    const char16_t* text = rows.CellText(row, column, buffer);
    return text == nullptr ? u"<none>" : std::u16string(text);
}

TEST(RunGridSource, RowsAreTheRunsInTheGridsCellTexts) {
    const std::vector<RunRecord> runs = {
        EndedRun(k100K, 1, 99999, 1299709, 0.05, true),
        EndedRun(k10M, 4, 1141835, 17842169, 0.925, false),
        EndedRun(k1M, 2, 999999, 15485863, 123.456, true),
        NewRunRecord(k1M, 1),  // stopped before its first progress
    };
    RunGridSource rows(runs);
    ASSERT_EQ(rows.RowCount(), 4);
    EXPECT_EQ(Cell(rows, 0, 0), u"100K");
    EXPECT_EQ(Cell(rows, 0, 1), u"1 core");
    EXPECT_EQ(Cell(rows, 0, 2), u"1299709");
    EXPECT_EQ(Cell(rows, 0, 3), u" 0.05 sec");
    EXPECT_EQ(Cell(rows, 1, 1), u"4 cores");
    EXPECT_EQ(Cell(rows, 1, 2), u"17842169 (11.42%)");
    EXPECT_EQ(Cell(rows, 1, 3), u" 0.93 sec");  // 0.925 rounds up, as the program shows it
    EXPECT_EQ(Cell(rows, 2, 3), u"123.46 sec");
    EXPECT_EQ(Cell(rows, 3, 2), u"");
    for (const auto& [row, column] : std::vector<std::pair<int32_t, int32_t>>{{-1, 0}, {4, 0}, {0, -1}, {0, 4}}) {
        EXPECT_EQ(Cell(rows, row, column), u"<none>") << row << ", " << column;
    }

    // The lines the grid writer makes of them, byte for byte.
    EXPECT_EQ(GridLine(rows, 0), "100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\t\r\n");
    EXPECT_EQ(GridLine(rows, 1), "10M\t\t4 cores\t\t17842169 (11.42%)\t\t 0.93 sec\t\t\r\n");
    EXPECT_EQ(GridLine(rows, 3), "1M\t\t1 core\t\t\t\t\t\t\r\n");
    EXPECT_EQ(RunGridSource(std::vector<RunRecord>{}).RowCount(), 0);
}

TEST(RunGridSource, CellsAreCutWhereTheListViewCutsThem) {
    std::vector<RunRecord> runs = {NewRunRecord(k100K, 1)};
    runs[0].timeText = std::string(150, '7');
    RunGridSource rows(runs);
    EXPECT_EQ(Cell(rows, 0, 3), std::u16string(IGridSource::kCellUnits - 1, u'7'));
}

}  // namespace
