#include "export/GridFile.h"

#include "export/FileManager.h"
#include "export/GridSource.h"
#include "export/OutputFile.h"
#include "export/TextEncoding.h"

namespace {

constexpr int32_t kColumns = 4;  // Task, Thread Count, Last Prime, Time
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

std::string GridLine(IGridSource& source, int32_t row) {
    std::string line;
    for (int32_t column = 0; column < kColumns; ++column) {
        char16_t cell[IGridSource::kCellUnits] = {};
        const char16_t* text = source.CellText(row, column, cell);
        if (text == nullptr) continue;
        // A source may hand back text of its own, longer than the cell buffer
        // could hold: it is cut where the buffer would have cut it.
        size_t units = 0;
        while (units < IGridSource::kCellUnits - 1 && text[units] != 0) ++units;
        AppendUtf8(line, text, units);
        line += "\t\t";
    }
    line += "\r\n";
    return line;
}

void WriteGridFile(void* jobPointer) {
    if (jobPointer == nullptr) return;
    FileManager& job = *static_cast<FileManager*>(jobPointer);
    INotifyTarget* const notify = job.notifyWindow;
    IGridSource* const grid = job.gridView;
    auto send = [notify](uint32_t message, uint32_t wParam, uint32_t lParam) {
        if (notify != nullptr) notify->Notify(message, wParam, lParam);
    };

    OutputFile file(job);
    if (!file.Open()) {
        send(WM_SAVE_FINISHED, 0, 0);
        return;
    }
    bool written = file.Write(kByteOrderMark, sizeof kByteOrderMark - 1);
    const int32_t counted = grid != nullptr ? grid->RowCount() : 0;
    const uint32_t rows = counted > 0 ? uint32_t(counted) : 0;
    uint32_t shown = 0;  // the progress position last sent
    if (written) send(WM_SAVE_PROGRESS, 0, rows);

    for (uint32_t row = 0; row < rows && written; ++row) {
        const std::string line = GridLine(*grid, int32_t(row));
        written = file.Write(line.data(), line.size());
        if (!written) break;
        shown = row;
        send(WM_SAVE_PROGRESS, row, rows);
    }

    const bool closed = file.Close();
    if (written && closed) {
        send(WM_SAVE_PROGRESS, rows, rows);
        send(WM_SAVE_FINISHED, rows, rows);
    } else {
        send(WM_SAVE_FINISHED, shown, rows);
    }
}
