// Times the result store as the runner uses it: storing one invocation (open,
// append in one transaction, close) into a store that already holds many, and
// history and compare over that store.
//
//   store_bench [folder [invocations]]
//
// Each stored invocation is a sweep on 128 logical processors repeated 5
// times: 8 thread counts, 40 runs. The store is left in the folder
// (default: the system's temporary folder) as store-bench.db and reused by
// the next run when it holds enough invocations.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/TaskTable.h"
#include "results/Compare.h"
#include "results/History.h"
#include "results/ResultStore.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int k1M = 2;
constexpr int kRepeat = 5;

RunContext Context(int n) {
    RunContext context;
    context.version = "2.0";
    context.cpu = "Bench CPU with a long model name, 64 cores";
    context.logicalProcessors = 128;
    context.os = "Linux 6.1.0-18-amd64 x86_64 (Debian GNU/Linux 12 (bookworm))";
    context.compiler = "GCC 12.2.0";
    context.buildType = "Release";
    context.flags = "-O3 -DNDEBUG";
    context.bits = 64;
    char date[32];
    std::snprintf(date, sizeof date, "2026-%02d-%02dT%02d:%02d:00Z", 1 + n / 2000 % 12, 1 + n / 80 % 28, n / 4 % 24, n % 60);
    context.date = date;
    return context;
}

std::vector<RunRecord> SweepRuns(int n) {
    std::vector<RunRecord> runs;
    for (uint16_t threads = 1; threads <= 128; threads *= 2) {
        for (int r = 0; r < kRepeat; ++r) {
            RunRecord run = NewRunRecord(k1M, threads);
            run.progressed = true;
            run.index = run.targetCount - 1;
            run.prime = TaskTable::lastPrimes[k1M];
            run.seconds = 0.8 / threads * (1.0 + 0.001 * ((n + r) % 17));
            run.status = RunStatus::Finished;
            SetRunCells(run, true);
            runs.push_back(run);
        }
    }
    return runs;
}

std::string Store(const std::string& db, int n) {
    return StoreInvocation(db, Context(n), "vantrel-cli --sweep --repeat 5 --db " + db, "bench " + std::to_string(n),
                           SweepRuns(n));
}

// Milliseconds of each of `count` calls.
std::vector<double> Time(int count, const std::function<void()>& call) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        call();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

void Report(const char* what, const std::vector<double>& ms, const std::string& note = "") {
    std::printf("| %s | %zu | %.1f | %.1f | %.1f | %s |\n", what, ms.size(), ms.front(), ms[ms.size() / 2], ms.back(),
                note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    const int invocations = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::string db = (folder / "store-bench.db").string();

    int stored = 0;
    {
        std::ostringstream out, err;
        HistoryOptions count;
        count.db = db;
        count.format = ReportFormat::Csv;
        count.task = "1M";
        count.threads = 1;
        const std::string text = RunHistory(count, out, err) == kHistoryOk ? out.str() : "";
        stored = std::max(0, int(std::count(text.begin(), text.end(), '\n')) - 1);
    }
    if (stored < invocations) {
        std::printf("filling %s with %d invocations ...\n", db.c_str(), invocations - stored);
        const auto start = Clock::now();
        for (int n = stored; n < invocations; ++n) {
            const std::string failure = Store(db, n);
            if (!failure.empty()) {
                std::fprintf(stderr, "store_bench: %s\n", failure.c_str());
                return 1;
            }
        }
        std::printf("filled in %.1f s\n", std::chrono::duration<double>(Clock::now() - start).count());
        stored = invocations;
    }
    std::printf("store: %d invocations of %d runs, %.1f MB\n\n", stored, 8 * kRepeat,
                double(std::filesystem::file_size(db)) / 1e6);
    std::printf("| operation | times | best ms | median ms | worst ms | output |\n|---|---|---|---|---|---|\n");

    int n = stored;
    Report("store one invocation (40 runs)", Time(20, [&] {
               const std::string failure = Store(db, n++);
               if (!failure.empty()) std::fprintf(stderr, "store_bench: %s\n", failure.c_str());
           }));

    auto history = [&](const char* what, HistoryOptions options) {
        options.db = db;
        size_t lines = 0;
        const std::vector<double> ms = Time(5, [&] {
            std::ostringstream out, err;
            if (RunHistory(options, out, err) != kHistoryOk) std::fprintf(stderr, "store_bench: %s", err.str().c_str());
            const std::string text = out.str();
            lines = size_t(std::count(text.begin(), text.end(), '\n'));
        });
        Report(what, ms, std::to_string(lines) + " lines");
    };
    history("history (every invocation)", {});
    HistoryOptions last;
    last.last = 20;
    history("history --last 20", last);
    HistoryOptions one;
    one.task = "1M";
    one.threads = 4;
    history("history --task 1M --threads 4", one);
    one.last = 100;
    history("history --task 1M --threads 4 --last 100", one);

    CompareOptions compare;
    compare.baseSource = "db:" + db + ":last~1";
    compare.newSource = "db:" + db + ":last";
    Report("compare db:FILE:last~1 db:FILE:last", Time(5, [&] {
               std::ostringstream out, err;
               RunCompare(compare, out, err);
           }));
    return 0;
}
