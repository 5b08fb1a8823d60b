// The result grid's list view as the rows of a grid file (Windows only).
#pragma once

#include <windows.h>

#include "export/GridSource.h"

// Reads the list view with LVM_GETITEMCOUNT and LVM_GETITEMW sent from the
// writer thread; the list view belongs to the UI thread, which answers while
// it pumps messages.
class ListViewGridSource : public IGridSource {
public:
    explicit ListViewGridSource(HWND listView_) : listView(listView_) {}

    int32_t RowCount() override;
    const char16_t* CellText(int32_t row, int32_t column, char16_t* buffer) override;

    HWND listView;
};
