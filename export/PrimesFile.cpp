#include "export/PrimesFile.h"

#include <cstring>
#include <new>

#include "export/BatchWriter.h"
#include "export/DecimalDigits.h"
#include "export/FileManager.h"
#include "export/OutputFile.h"

namespace {

constexpr uint32_t kLeastCapacity = 10000000;
constexpr uint32_t kMostCapacity = 40000000;
// A fallback buffer is never smaller than this: the batch test needs room
// for well over two lines.
constexpr uint32_t kSmallestCapacity = 4096;
// What one line may need at the end of the buffer: at most 23 bytes, and
// each of its two numbers may be stored as a block of 16.
constexpr size_t kLineRoom = 48;

// The batch test counts each line with a one-byte end, as the file's text
// was always measured, but the buffer holds the lines with their CR LF: a
// batch of `capacity` counted bytes needs at most a quarter more, since no
// line counts fewer than 4 bytes ("1-2" and its end).
size_t BufferBytes(uint32_t capacity) { return size_t(capacity) + capacity / 4 + kLineRoom; }

// Every value is split at its last four digits: `last4` is counted up by
// the gap from the line before and printed from this table, the digits above
// it change about once in hundreds of lines.
constexpr uint32_t kLowSpan = 10000;
constexpr auto kFourDigits = [] {
    struct Table {
        char text[kLowSpan][4];
    } table{};
    for (uint32_t n = 0; n < kLowSpan; ++n) {
        table.text[n][0] = char('0' + n / 1000);
        table.text[n][1] = char('0' + n / 100 % 10);
        table.text[n][2] = char('0' + n / 10 % 10);
        table.text[n][3] = char('0' + n % 10);
    }
    return table;
}();

uint32_t DecimalLength(uint32_t value) {
    uint32_t length = 1;
    for (uint64_t power = 10; value >= power; power *= 10) ++length;
    return length;
}

struct Batch {
    uint32_t lastLine;  // 0-based index of the batch's last line
    size_t bytes;       // bytes in the buffer, CR LF included
};

// The text of a DecimalDigits number, or nothing for 0, as words to store.
struct DigitsText {
    void Take(const DecimalDigits& digits) {
        first = 0;
        second = 0;
        length = 0;
        if (digits.low == 0 && digits.high == 0) return;
        length = digits.Length();
        if (length <= 8) {
            first = DecimalDigits::Ascii(digits.low, length);
        } else {
            first = DecimalDigits::Ascii(digits.high, length - 8);
            second = DecimalDigits::Ascii(digits.low, 8);
        }
    }

    uint64_t first = 0;
    uint64_t second = 0;
    uint32_t length = 0;
};

// Formats the lines of a job batch after batch. Each line's two numbers are
// counted up from the line before rather than converted: a file of many
// millions of lines has to be formatted about as fast as the disk takes it.
class LineFormatter {
public:
    // Formats lines from `first` on into `out` until the batch test says
    // the batch is full, the items end, or `room` bytes might not hold one
    // more line.
    Batch FormatBatch(char* const out, const size_t room, const uint32_t* const items, const uint32_t first,
                      const uint32_t count, const uint32_t capacity) {
        // Local copies stay in registers; the character stores below could
        // otherwise alias the members and force reloads on every line.
        DecimalDigits tensDigits = tens;
        uint32_t unit = units;
        DecimalDigits highDigits = high;
        uint32_t low = last4;
        uint32_t last = previous;
        DigitsText tensText;
        tensText.Take(tensDigits);
        DigitsText highText;
        highText.Take(highDigits);

        uint64_t pending = 0;  // bytes as the batch test counts them: one per line end
        size_t bytes = 0;
        uint32_t i = first;
        for (;; ++i) {
            char* const line = out + bytes;
            DecimalDigits::Store(line, tensText.first);
            if (tensText.length > 8) DecimalDigits::Store(line + (tensText.length - 8), tensText.second);
            const char unitAndHyphen[2] = {char('0' + unit), '-'};
            std::memcpy(line + tensText.length, unitAndHyphen, 2);
            uint32_t at = tensText.length + 2;

            const uint32_t current = items[i];
            if (current >= last && current - last < kLowSpan) {
                low += current - last;
                if (low >= kLowSpan) {
                    low -= kLowSpan;
                    highDigits.Add(1);
                    highText.Take(highDigits);
                }
            } else {
                highDigits.Set(current / kLowSpan);
                highText.Take(highDigits);
                low = current % kLowSpan;
            }
            last = current;
            if (highText.length != 0) {
                DecimalDigits::Store(line + at, highText.first);
                std::memcpy(line + at + highText.length, kFourDigits.text[low], 4);
                at += highText.length + 4;
            } else {
                // Below 10000 the leading zeros are left out.
                const uint32_t digits = DecimalLength(low);
                std::memcpy(line + at, kFourDigits.text[low] + (4 - digits), 4);
                at += digits;
            }
            std::memcpy(line + at, "\r\n", 2);

            const uint32_t counted = at + 1;
            bytes += at + 2;
            pending += counted;
            if (++unit == 10) {
                unit = 0;
                tensDigits.Add(1);
                tensText.Take(tensDigits);
            }

            // One more line of this length would reach the end of the batch.
            if (pending + counted >= capacity || i == count - 1) break;
            // Only a table that is no ascending run of primes can have a
            // line that outgrows the room the batch test leaves.
            if (bytes + kLineRoom > room) break;
        }
        tens = tensDigits;
        units = unit;
        high = highDigits;
        last4 = low;
        previous = last;
        return {i, bytes};
    }

private:
    DecimalDigits tens;  // the next line's number without its last digit
    uint32_t units = 1;  // the next line's last digit
    DecimalDigits high;  // the value of the line before without its last four digits
    uint32_t last4 = 0;  // and its last four digits
    uint32_t previous = 0;
};

std::unique_ptr<char[]> NewBuffer(size_t bytes) { return std::unique_ptr<char[]>(new (std::nothrow) char[bytes]); }

}  // namespace

uint32_t BatchCapacity(uint32_t itemCount) {
    if (itemCount < kLeastCapacity) return kLeastCapacity;
    if (itemCount >= kMostCapacity) return kMostCapacity;
    return itemCount;
}

void WritePrimesFile(void* job) { WritePrimesFileWith(static_cast<FileManager*>(job), NewBuffer); }

void WritePrimesFileWith(FileManager* job, const BatchAllocator& allocate) {
    if (job == nullptr) return;
    INotifyTarget* const notify = job->notifyWindow;
    const uint32_t* const items = job->items;
    const uint32_t count = items != nullptr ? job->itemCount : 0;
    auto send = [notify](uint32_t message, uint32_t wParam, uint32_t lParam) {
        if (notify != nullptr) notify->Notify(message, wParam, lParam);
    };

    // The buffers come before the file, so that a job without memory leaves
    // an existing file as it was. Two buffers let one batch be formatted
    // while the other is written; one will do, and a smaller one after that.
    uint32_t capacity = BatchCapacity(count);
    int buffers = 2;
    std::unique_ptr<char[]> buffer = allocate(2 * BufferBytes(capacity));
    while (buffer == nullptr && (buffers == 2 || capacity > kSmallestCapacity)) {
        if (buffers == 2) {
            buffers = 1;
        } else {
            capacity = capacity / 2 > kSmallestCapacity ? capacity / 2 : kSmallestCapacity;
        }
        buffer = allocate(buffers * BufferBytes(capacity));
    }
    if (buffer == nullptr) {
        job->RecordFailure("Not enough memory to save \"" + job->PathText() + "\"");
        send(WM_SAVE_FINISHED, 0, count);
        return;
    }
    const size_t bufferBytes = BufferBytes(capacity);

    OutputFile file(*job);
    if (!file.Open()) {
        send(WM_SAVE_FINISHED, 0, count);
        return;
    }
    send(WM_SAVE_PROGRESS, 0, count);

    uint32_t shown = 0;  // the progress position last sent
    bool written = true;
    {
        BatchWriter writer(file, buffers == 2 && count > 0);
        bool inFlight = false;
        uint32_t inFlightLast = 0;
        int next = 0;  // the buffer to format into
        LineFormatter formatter;
        for (uint32_t first = 0; first < count;) {
            char* const out = buffer.get() + size_t(next) * bufferBytes;
            const Batch batch = formatter.FormatBatch(out, bufferBytes, items, first, count, capacity);
            if (inFlight) {
                written = writer.Wait();
                if (!written) break;
                shown = inFlightLast;
                send(WM_SAVE_PROGRESS, inFlightLast, count);
            }
            writer.Submit(out, batch.bytes);
            inFlight = true;
            inFlightLast = batch.lastLine;
            if (buffers == 1) {
                // The only buffer is in use until its batch is written.
                written = writer.Wait();
                if (!written) break;
                inFlight = false;
                shown = inFlightLast;
                send(WM_SAVE_PROGRESS, inFlightLast, count);
            }
            next = (next + 1) % buffers;
            first = batch.lastLine + 1;
        }
        if (inFlight && written) {
            written = writer.Wait();
            if (written) {
                shown = inFlightLast;
                send(WM_SAVE_PROGRESS, inFlightLast, count);
            }
        }
    }

    buffer.reset();
    const bool closed = file.Close();
    if (written && closed) {
        send(WM_SAVE_PROGRESS, count, count);
        send(WM_SAVE_FINISHED, count, count);
    } else {
        send(WM_SAVE_FINISHED, shown, count);
    }
}
