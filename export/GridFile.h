// The result grid file: UTF-8 with byte-order mark, one line per grid row,
// each delivered cell followed by two TABs, CR LF line ends.
#pragma once

#include <cstdint>
#include <string>

class IGridSource;

// The bytes of one row as they go to the file, its CR LF included. Cells
// the source does not deliver are left out together with their TABs; a cell
// is cut to IGridSource::kCellUnits - 1 units.
std::string GridLine(IGridSource& source, int32_t row);
