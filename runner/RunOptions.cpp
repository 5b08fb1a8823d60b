#include "runner/RunOptions.h"

#include <algorithm>

#include "engine/PrimeCoordinator.h"
#include "engine/Text.h"
#include "export/FileManager.h"
#include "runner/OptionParsing.h"
#include "runner/Platform.h"
#include "runner/SaveFileName.h"

namespace {

static_assert(TaskTable::taskSizes[kStressTask] == 10000000, "a stress runs 10M unless told");

// A duration: a whole number and a unit, s, m or h ("90s", "10m", "2h"),
// passed on as seconds; at least one second and at most kMaxStressSeconds.
CLI::Validator Duration() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const size_t digits = value.find_first_not_of("0123456789");
            if (digits == 0 || digits > 9 || digits == std::string::npos || digits + 1 != value.size()) {
                return "not a duration";
            }
            const char unit = value.back();
            const int64_t scale = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : 0;
            const int64_t seconds = std::stoll(value.substr(0, digits)) * scale;
            if (seconds < 1 || seconds > kMaxStressSeconds) return "out of range";
            value = std::to_string(seconds);
            return {};
        },
        "");
}

// A stress's thread count: 1 to 255, or "all", passed on as the count `all`.
CLI::Validator StressThreads(uint16_t all) {
    const CLI::Validator count = PlainCount(3) & CLI::Range(1, int(PrimeCoordinator::kMaxThreads));
    return CLI::Validator(
        [all, count](std::string& value) {
            if (value != "all") return count(value);
            value = std::to_string(all);
            return std::string();
        },
        "");
}

OptionDef TaskOption() {
    return ChoiceOption("--task", "LABEL", "Task size: " + TaskLabels() + " (default 1M)", "task",
                        "valid tasks: " + TaskLabels(), TaskChoices());
}

OptionDef ThreadsOption(const ProcessorFacts& processors) {
    const std::vector<uint16_t> offered = OfferedThreadCounts(processors.usable);
    const std::string counts = ThreadCountsText(offered);
    const std::string valid = "valid thread counts on this machine (" + ProcessorPhrase(processors) + "): " + counts;
    return {"--threads", "T", "Worker threads, one of the counts offered here: " + counts + " (default 1)", valid,
            PlainCount(6) & CLI::IsMember(offered), Refused("thread count", " is not offered", valid)};
}

OptionDef StressThreadsOption(const ProcessorFacts& processors) {
    const uint16_t every = EveryProcessor(processors.usable);
    const std::string all = std::to_string(every);
    const std::string most = std::to_string(PrimeCoordinator::kMaxThreads);
    const std::string valid =
        "valid thread counts for --stress: 1 to " + most + ", or all (every usable logical processor: " + all + " here)";
    return {"--threads", "T|all", "Worker threads of a stress: 1 to " + most + ", or all (the default: " + all + ")",
            valid, StressThreads(every), Refused("thread count", " is out of range", valid)};
}

OptionDef BindOption() {
    return ChoiceOption("--bind", "none|cores|pus",
                        "Where the worker threads run: none (default) where the system puts them; cores one per "
                        "physical core, a core's further logical processors only once every usable core has a "
                        "worker; pus the usable logical processors in order, a core's one after the other",
                        "placement", "valid placements: none cores pus", BindChoices());
}

// --save-primes and --save-grid. The export job holds a name of limited
// length and the writers open it as given, so a name is checked here rather
// than cut or changed later.
OptionDef SaveOption(const std::string& name, const std::string& help) {
    const std::string valid =
        "valid: a file name of at most " + std::to_string(FileManager::kPathUnits - 1) + " characters";
    const CLI::Validator usable([](std::string& value) { return JobPathOf(value) ? std::string() : "unusable"; }, "");
    return {name, "FILE", help, valid, usable, [name, valid](const std::string& value) {
                if (value.empty()) return name + " needs a file name; " + valid;
                return name + " cannot take \"" + OneLine(value) + "\"; " + valid + platform::FileNameEncoding();
            }};
}

OptionDef VerifyOption() {
    const std::vector<std::pair<std::string, VerifyMode>> checks = {{"digest", VerifyMode::Digest},
                                                                    {"full", VerifyMode::Full}};
    return ChoiceOption("--verify", "digest|full",
                        "What is checked: digest (default) checks every finished run against the known N-th prime and "
                        "the digest of all its primes, and names the first wrong slot; full checks besides the primes "
                        "a stopped run holds, slot by slot, against a sieve",
                        "check", "valid checks: digest full", checks);
}

OptionDef StressOption() {
    const std::string valid =
        "valid durations: a whole number of seconds, minutes or hours (90s, 10m, 2h), more than zero and at most 7 days";
    return {.name = "--stress",
            .value = "DURATION",
            .help = "Burn-in: run the task again and again until DURATION (90s, 10m, 2h; at most 7 days) has passed, "
                    "each run verified; report each run's time, the slowest, the fastest and the drift. --task "
                    "defaults to 10M and --threads to all (every usable logical processor); any T from 1 to 255 is "
                    "taken",
            .valid = valid,
            .check = Duration(),
            .refusal = Refused("duration", " is not valid", valid),
            .conflicts = {{"--sweep", "--stress and --sweep exclude each other: a stress runs one thread count; "
                                      "valid: --stress DURATION with --threads T or all"},
                          {"--repeat", "--stress and --repeat exclude each other: a stress repeats its run until the "
                                       "time is up; valid: --stress DURATION alone"},
                          {"--save-primes", "--stress and --save-primes exclude each other: a stress keeps no run's "
                                            "primes; valid: --save-grid FILE, one row per run"}}};
}

}  // namespace

uint16_t EveryProcessor(uint32_t processors) {
    return uint16_t(std::min<uint32_t>(std::max<uint32_t>(processors, 1), PrimeCoordinator::kMaxThreads));
}

std::vector<uint16_t> OfferedThreadCounts(uint32_t processors) {
    std::vector<uint16_t> counts;
    const int top = ThreadListTop(processors);
    for (int k = 0; k <= top; ++k) counts.push_back(ThreadCountOfEntry(uint32_t(k)));
    return counts;
}

std::string ThreadCountsText(const std::vector<uint16_t>& counts) {
    std::string text;
    for (uint16_t count : counts) text += (text.empty() ? "" : " ") + std::to_string(count);
    return text;
}

std::vector<OptionDef> RunOptionDefs(const ProcessorFacts& processors, bool stress) {
    const std::string repeatValid = "valid repeat counts: 1 to " + std::to_string(kMaxRepeat);
    const std::string counts = ThreadCountsText(OfferedThreadCounts(processors.usable));
    return {
        TaskOption(),
        stress ? StressThreadsOption(processors) : ThreadsOption(processors),
        {"--sweep", "", "Run every offered thread count in turn, with speedup and efficiency", "", kNoValue, {},
         "--threads", "--threads and --sweep exclude each other; valid: one of --threads T (" + counts + ") or --sweep"},
        {"--repeat", "R", "Runs of each setting; reports the minimum and the median (default 1)", repeatValid,
         PlainCount(4) & CLI::Range(1, kMaxRepeat), Refused("repeat count", " is out of range", repeatValid)},
        FormatOption("Report format: table, csv or json (default table)"),
        {"--events", "",
         "Print each notification (progress INDEX PRIME, finished INDEX PRIME) on stdout; the report goes to stderr",
         "", kNoValue},
        SaveOption("--save-primes",
                   "Save the primes of the last run (finished, or stopped by Ctrl-C) to FILE as the Windows program "
                   "does: one INDEX-PRIME line per prime, CR LF"),
        SaveOption("--save-grid",
                   "Save one row per run of this invocation (Task, Thread Count, Last Prime, Time) to FILE as the "
                   "Windows program saves its grid: UTF-8 with byte-order mark, cells followed by two TABs, CR LF"),
        VerifyOption(),
        StressOption(),
        {.name = "--keep-going",
         .value = "",
         .help = "With --stress: count wrong and failed runs and go on until the time is up, instead of ending at "
                 "the first",
         .valid = "",
         .check = kNoValue,
         .needs = "--stress",
         .unmet = "--keep-going goes with --stress only; valid: --stress DURATION --keep-going"},
        {.name = "--each-core",
         .value = "",
         .help = "With --stress: run the task on one worker placed on each usable core in turn (each logical "
                 "processor in turn with --bind pus), every run verified, and report each core: its runs, errors, "
                 "median time and its distance from the other cores'; a wrong result names the core, its processors "
                 "and its package",
         .valid = "",
         .check = kNoValue,
         .excludes = "--threads",
         .exclusion = "--each-core runs one worker on each core in turn; valid: --stress DURATION --each-core "
                      "without --threads",
         .needs = "--stress",
         .unmet = "--each-core goes with --stress only; valid: --stress DURATION --each-core"},
        BindOption(),
    };
}
