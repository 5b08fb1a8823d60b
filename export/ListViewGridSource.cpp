#include "export/ListViewGridSource.h"

#include <commctrl.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "list view texts are UTF-16");

int32_t ListViewGridSource::RowCount() { return int32_t(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0)); }

const char16_t* ListViewGridSource::CellText(int32_t row, int32_t column, char16_t* buffer) {
    LVITEMW request;
    ZeroMemory(&request, sizeof request);
    request.mask = LVIF_TEXT;
    request.iItem = row;
    request.iSubItem = column;
    request.pszText = reinterpret_cast<wchar_t*>(buffer);
    request.cchTextMax = kCellUnits;
    if (SendMessageW(listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&request)) == 0) return nullptr;
    // The list view may answer with a pointer of its own instead of copying.
    return reinterpret_cast<const char16_t*>(request.pszText);
}
