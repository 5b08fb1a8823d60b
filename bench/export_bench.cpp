// Writes the primes file of a 10M run and the same bytes, already formatted,
// with the same write sizes, and prints how much slower the writer is.
// Both are timed several times, alternately, and the best of each compared:
// a single write of 180 MB now and then waits for the disk's write-back.
// Usage: export_bench [folder [count [reps]]]   (defaults: /tmp, 10000000, 5; ASCII folder names)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "export/FileManager.h"

namespace {

constexpr double kAllowedRatio = 1.5;

std::vector<uint32_t> FirstPrimes(uint32_t count) {
    // The n-th prime is below n (ln n + ln ln n) for n >= 6.
    const double n = count < 6 ? 6.0 : double(count);
    const uint64_t limit = uint64_t(n * (std::log(n) + std::log(std::log(n)))) + 16;
    std::vector<uint8_t> odd_composite(limit / 2 + 1);
    std::vector<uint32_t> primes;
    primes.reserve(count);
    if (count > 0) primes.push_back(2);
    for (uint64_t m = 3; m <= limit && primes.size() < count; m += 2) {
        if (odd_composite[m / 2]) continue;
        primes.push_back(uint32_t(m));
        for (uint64_t k = m * m; k <= limit; k += 2 * m) odd_composite[k / 2] = 1;
    }
    return primes;
}

class BatchRecorder : public INotifyTarget {
public:
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        if (message == WM_SAVE_PROGRESS && wParam != 0 && wParam < lParam) batchEnds.push_back(wParam);
    }
    std::vector<uint32_t> batchEnds;  // the 0-based index of each batch's last line, bar the last batch
};

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string ReadAll(const std::string& path) {
    std::string bytes;
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return bytes;
    char chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.append(chunk, got);
    std::fclose(in);
    return bytes;
}

// Writes `bytes` in the pieces given, as plain fwrite calls.
double TimeRawWrite(const std::string& path, const std::string& bytes, const std::vector<size_t>& pieces) {
    std::remove(path.c_str());
    sync();  // no run pays for the write-back of the one before
    const auto start = std::chrono::steady_clock::now();
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return -1;
    size_t at = 0;
    for (size_t piece : pieces) {
        std::fwrite(bytes.data() + at, 1, piece, out);
        at += piece;
    }
    std::fclose(out);
    return Seconds(std::chrono::steady_clock::now() - start);
}

// Runs the writer on the job; -1 when it failed.
double TimeWriter(FileManager& job, BatchRecorder& recorder) {
    const std::string path = job.PathText();
    std::remove(path.c_str());
    sync();
    recorder.batchEnds.clear();
    const auto start = std::chrono::steady_clock::now();
    WritePrimesFile(&job);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    return job.Failure().empty() ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    const uint32_t count = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 10000000;
    const int reps = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::string written = folder + "/vantrel-export-bench-primes.txt";
    const std::string raw = folder + "/vantrel-export-bench-raw.txt";

    const std::vector<uint32_t> primes = FirstPrimes(count);
    BatchRecorder recorder;
    FileManager job(&recorder);
    job.SetPath(std::wstring(written.begin(), written.end()).c_str());
    job.items = primes.data();
    job.itemCount = count;

    // A first run of each, untimed, so that both timed runs find the file
    // system in the same state.
    if (TimeWriter(job, recorder) < 0) {
        std::fprintf(stderr, "export_bench: %s\n", job.Failure().c_str());
        return 2;
    }

    // The same bytes in the same writes: one piece per batch.
    const std::string bytes = ReadAll(written);
    std::vector<size_t> pieces;
    size_t lineEnds = 0, at = 0, pieceStart = 0;
    for (uint32_t end : recorder.batchEnds) {
        while (lineEnds <= end) {
            at = bytes.find('\n', at) + 1;
            ++lineEnds;
        }
        pieces.push_back(at - pieceStart);
        pieceStart = at;
    }
    pieces.push_back(bytes.size() - pieceStart);

    TimeRawWrite(raw, bytes, pieces);
    double writerSeconds = 1e9, rawSeconds = 1e9;
    for (int rep = 0; rep < reps; ++rep) {
        const double w = TimeWriter(job, recorder);
        if (w < 0) {
            std::fprintf(stderr, "export_bench: %s\n", job.Failure().c_str());
            return 2;
        }
        writerSeconds = std::min(writerSeconds, w);
        const double r = TimeRawWrite(raw, bytes, pieces);
        if (r < 0) {
            std::fprintf(stderr, "export_bench: cannot write %s\n", raw.c_str());
            return 2;
        }
        rawSeconds = std::min(rawSeconds, r);
    }
    std::remove(written.c_str());
    std::remove(raw.c_str());

    const double ratio = writerSeconds / rawSeconds;
    std::printf("primes file: %u lines, %zu bytes in %zu writes, best of %d runs each\n", count, bytes.size(),
                pieces.size(), reps);
    std::printf("writer %.3f s, formatted bytes %.3f s, ratio %.2f (at most %.1f): %s\n", writerSeconds, rawSeconds,
                ratio, kAllowedRatio, ratio <= kAllowedRatio ? "ok" : "TOO SLOW");
    return ratio <= kAllowedRatio ? 0 : 1;
}
