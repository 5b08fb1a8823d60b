// The rows a grid file is written from.
#pragma once

#include <cstdint>

// A table of text cells read row by row, the way the result grid's list view
// answers LVM_GETITEMCOUNT and LVM_GETITEMW. The Windows program reads its
// list view (from the writer thread, through SendMessageW); the runner reads
// its own rows.
class IGridSource {
public:
    static constexpr int32_t kCellUnits = 100;  // the cell buffer, terminator included

    virtual ~IGridSource() = default;

    // The number of rows. Zero or less means none.
    virtual int32_t RowCount() = 0;

    // The UTF-16 text of one cell, ending in a zero unit. `buffer` holds
    // kCellUnits units, all zero on entry; the source may copy the text into
    // it (at most kCellUnits - 1 units and the terminator) and return
    // `buffer`, or return a pointer to text of its own that stays valid until
    // the next call. Null means the cell is not delivered: it is left out of
    // the line altogether. Only the first kCellUnits - 1 units of the text
    // are used.
    virtual const char16_t* CellText(int32_t row, int32_t column, char16_t* buffer) = 0;
};
