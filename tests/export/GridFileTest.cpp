#include <gmock/gmock.h>

#include <algorithm>
#include <array>
#include <thread>

#include "export/FileManager.h"
#include "export/GridFile.h"
#include "export/GridSource.h"
#include "tests/support/SaveRecorder.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

// A cell as a grid may answer it: copied into the caller's buffer (and cut
// there, as the list view cuts), handed back as text of its own, or refused.
struct Cell {
    enum class Answer { Copy, Own, Refuse };
    std::u16string text;
    Answer answer = Answer::Copy;
};

Cell Own(std::u16string text) { return {std::move(text), Cell::Answer::Own}; }
Cell Refused() { return {u"", Cell::Answer::Refuse}; }

using Row = std::array<Cell, 4>;

class FakeGrid : public IGridSource {
public:
    explicit FakeGrid(std::vector<Row> rows_) : rows(std::move(rows_)), count(int32_t(rows.size())) {}

    int32_t RowCount() override { return count; }

    const char16_t* CellText(int32_t row, int32_t column, char16_t* buffer) override {
        lastRowRead = std::max(lastRowRead, row);
        for (int32_t k = 0; k < kCellUnits; ++k) dirtyBuffer = dirtyBuffer || buffer[k] != 0;
        const Cell& cell = rows.at(size_t(row)).at(size_t(column));
        switch (cell.answer) {
            case Cell::Answer::Refuse: return nullptr;
            case Cell::Answer::Own: return cell.text.c_str();
            case Cell::Answer::Copy: break;
        }
        const size_t units = std::min(cell.text.size(), size_t(kCellUnits - 1));
        std::copy(cell.text.begin(), cell.text.begin() + std::ptrdiff_t(units), buffer);
        buffer[units] = 0;
        return buffer;
    }

    std::vector<Row> rows;
    int32_t count;
    bool dirtyBuffer = false;
    int32_t lastRowRead = -1;
};

Row Cells(std::u16string a, std::u16string b, std::u16string c, std::u16string d) {
    return Row{Cell{std::move(a)}, Cell{std::move(b)}, Cell{std::move(c)}, Cell{std::move(d)}};
}

class GridFileTest : public ::testing::Test {
protected:
    void SetUp() override { target.job = &job; }

    void Save(const std::filesystem::path& where, IGridSource* grid) {
        job.SetPath(WidePath(where).c_str());
        job.gridView = grid;
        std::thread writer(WriteGridFile, &job);
        writer.join();
    }

    TempFolder temp;
    SaveRecorder target;
    FileManager job{&target};
    std::filesystem::path file = temp.Path("grid.txt");
};

TEST_F(GridFileTest, EmptyGridIsTheByteOrderMarkAlone) {
    FakeGrid grid({});
    Save(file, &grid);
    EXPECT_EQ(ReadBytes(file), kBom);
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(0, 0), Progress(0, 0), Finished(0, 0)}));
    EXPECT_EQ(job.Failure(), "");
}

TEST_F(GridFileTest, NegativeRowCountOrNoGridWritesNoRows) {
    FakeGrid grid({Cells(u"a", u"b", u"c", u"d")});
    grid.count = -1;
    Save(file, &grid);
    EXPECT_EQ(ReadBytes(file), kBom);
    EXPECT_EQ(target.Messages().back(), Finished(0, 0));
    Save(file, nullptr);
    EXPECT_EQ(ReadBytes(file), kBom);
}

TEST_F(GridFileTest, OneRowHasEightTabs) {
    FakeGrid grid({Cells(u"100K", u"1 core", u"1299709", u" 0.05 sec")});
    Save(file, &grid);
    EXPECT_EQ(ReadBytes(file), kBom + "100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\t\r\n");
    EXPECT_EQ(target.Messages(),
              (std::vector<Message>{Progress(0, 1), Progress(0, 1), Progress(1, 1), Finished(1, 1)}));
    EXPECT_FALSE(grid.dirtyBuffer);
}

TEST_F(GridFileTest, RowsInOrderWithProgressPerRow) {
    FakeGrid grid({Cells(u"1M", u"2 cores", u"15485863", u" 1.00 sec"), Cells(u"a", u"b", u"c", u"d"),
                   Cells(u"10M", u"4 cores", u"179424673 (50.00%)", u"12.34 sec")});
    Save(file, &grid);
    EXPECT_EQ(ReadBytes(file), kBom +
                                   "1M\t\t2 cores\t\t15485863\t\t 1.00 sec\t\t\r\n"
                                   "a\t\tb\t\tc\t\td\t\t\r\n"
                                   "10M\t\t4 cores\t\t179424673 (50.00%)\t\t12.34 sec\t\t\r\n");
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(0, 3), Progress(0, 3), Progress(1, 3),
                                                        Progress(2, 3), Progress(3, 3), Finished(3, 3)}));
}

TEST_F(GridFileTest, EmptyCellKeepsItsTabsAndRefusedCellDropsThem) {
    FakeGrid grid({Cells(u"", u"", u"", u""), Row{Cell{u"a"}, Refused(), Cell{u"c"}, Own(u"d")},
                   Row{Refused(), Refused(), Refused(), Refused()}, Cells(u"x\ty", u"", u"z", u"")});
    Save(file, &grid);
    EXPECT_EQ(ReadBytes(file), kBom +
                                   "\t\t\t\t\t\t\t\t\r\n"
                                   "a\t\tc\t\td\t\t\r\n"
                                   "\r\n"
                                   "x\ty\t\t\t\tz\t\t\t\t\r\n");
}

TEST_F(GridFileTest, TextOutsideAsciiIsUtf8) {
    const std::u16string lone_high = u"a\xD83D" u"b";
    const std::u16string lone_low = u"\xDE00";
    const std::u16string high_at_end = u"z\xD83D";
    FakeGrid grid({Row{Cell{u"\u00e9\u00df"}, Cell{u"\u4e2d\u6587"}, Cell{u"\U0001F600"}, Own(u"\u20ac")},
                   Row{Cell{lone_high}, Cell{lone_low}, Own(high_at_end), Cell{u"\xDE00\xD83D\xDE00"}}});
    Save(file, &grid);
    EXPECT_EQ(ReadBytes(file), kBom +
                                   "\xC3\xA9\xC3\x9F\t\t\xE4\xB8\xAD\xE6\x96\x87\t\t\xF0\x9F\x98\x80\t\t\xE2\x82\xAC\t\t\r\n"
                                   "a\xEF\xBF\xBD" "b\t\t\xEF\xBF\xBD\t\tz\xEF\xBF\xBD\t\t\xEF\xBF\xBD\xF0\x9F\x98\x80\t\t\r\n");
}

TEST_F(GridFileTest, LongCellsAreCutTo99Units) {
    const std::u16string long120(120, u'q');
    // The cut falls between the two halves of a pair: the half left over
    // must not turn into invalid UTF-8.
    const std::u16string pairAcrossCut = std::u16string(98, u'p') + u"\U0001F600" + u"tail";
    FakeGrid grid({Row{Cell{long120}, Own(long120), Own(pairAcrossCut), Cell{u"end"}}});
    Save(file, &grid);
    EXPECT_EQ(ReadBytes(file), kBom + std::string(99, 'q') + "\t\t" + std::string(99, 'q') + "\t\t" +
                                   std::string(98, 'p') + "\xEF\xBF\xBD\t\tend\t\t\r\n");
}

TEST_F(GridFileTest, ExistingLongerFileIsReplaced) {
    WriteBytes(file, std::string(5000, 'x'));
    FakeGrid grid({Cells(u"a", u"b", u"c", u"d")});
    Save(file, &grid);
    EXPECT_EQ(ReadBytes(file), kBom + "a\t\tb\t\tc\t\td\t\t\r\n");
}

TEST_F(GridFileTest, MissingFolderIsReported) {
    FakeGrid grid({Cells(u"a", u"b", u"c", u"d")});
    const std::filesystem::path missing = temp.Path("missing") / "grid.txt";
    Save(missing, &grid);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_THAT(target.FailureAtFinish(), AllOf(HasSubstr("grid.txt"), HasSubstr("No such file or directory")));
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Finished(0, 0)}));
}

#if defined(__linux__)
// Many long rows: the full disk fails a row's write in the middle of the
// file, when the buffered rows are first flushed, not only at the close. The
// rows after it are not read, and nothing claims the failed row or any after.
TEST_F(GridFileTest, FullDiskStopsAtTheRowWhoseWriteFailed) {
    const std::u16string cell(99, u'\u4e2d');  // 297 bytes of UTF-8
    const uint32_t rows = 500;
    FakeGrid grid(std::vector<Row>(rows, Cells(cell, cell, cell, cell)));
    Save("/dev/full", &grid);
    EXPECT_THAT(target.FailureAtFinish(), HasSubstr("No space left on device"));
    const uint32_t failed = uint32_t(grid.lastRowRead);
    ASSERT_LT(failed, rows - 1);
    std::vector<Message> expected{Progress(0, rows)};
    for (uint32_t row = 0; row < failed; ++row) expected.push_back(Progress(row, rows));
    expected.push_back(Finished(failed > 0 ? failed - 1 : 0, rows));
    EXPECT_EQ(target.Messages(), expected);
}
#endif

}  // namespace
