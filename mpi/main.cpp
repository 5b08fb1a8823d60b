// vantrel-mpi's process: MPI and the stop signals (runner/StopSignals.h); the
// fleet run itself is in FleetRun.
//
// Under mpirun a Ctrl-C (or SIGTERM) reaches mpirun alone; it sends every
// rank SIGCONT, then after odls_base_sigkill_timeout seconds (default 1)
// SIGTERM, and after as long again SIGKILL. So SIGTERM is the rank's stop
// request, and the stop, the last gather and rank 0's report must fit into
// the second before SIGKILL. Once mpirun has begun to end the job,
// MPI_Finalize waits for it to the end (SIGKILL); a stopped rank therefore
// gives it a moment and then exits with its code on its own.
//
// A fleet whose ranks did not all arrive cannot finalize (MPI_Finalize waits
// for every rank): the rank that gave up ends the job with MPI_Abort, and
// mpirun ends every other rank.
#include <mpi.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "mpi/FleetRun.h"
#include "runner/ExitCodes.h"
#include "runner/StopSignals.h"

#include <unistd.h>

namespace {

// How long a stopped rank waits for MPI_Finalize before it exits without it.
constexpr std::chrono::milliseconds kFinalizeWait{250};
// How long a rank that gave up waits for MPI_Abort to end the job: its
// message goes to mpirun first, which the rank's end must not cut off.
constexpr std::chrono::seconds kAbortWait{5};

// Standard error a whole line at a time, each in one write: the ranks share
// mpirun's standard error, and a line written in pieces interleaves with
// another rank's ("vantrel-mpivantrel-mpi: rank 0: ...").
class LineAtATime final : public std::streambuf {
public:
    ~LineAtATime() override {
        if (line.empty()) return;
        line.push_back('\n');  // a last line without its end is ended here
        sync();
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        line.push_back(traits_type::to_char_type(c));
        if (c == '\n') sync();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        for (std::streamsize i = 0; i < count; ++i) overflow(traits_type::to_int_type(text[i]));
        return count;
    }
    // A flush of part of a line waits for its end.
    int sync() override {
        const size_t end = line.rfind('\n');
        if (end == std::string::npos) return 0;
        for (size_t written = 0; written <= end;) {
            const ssize_t done = ::write(STDERR_FILENO, line.data() + written, end + 1 - written);
            if (done <= 0) break;
            written += size_t(done);
        }
        line.erase(0, end + 1);
        return 0;
    }

private:
    std::string line;
};

}  // namespace

int main(int argc, char** argv) {
    const std::atomic<bool>& interrupt = InstallStopSignals();
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    LineAtATime lines;
    std::ostream err(&lines);
    const FleetEnd end = RunFleet(args, std::cout, err, interrupt);
    const int code = end.code;
    if (code == kExitInterrupted || end.abandoned) {
        std::cout.flush();
        err.flush();
        const std::chrono::milliseconds wait = end.abandoned ? kAbortWait : kFinalizeWait;
        std::thread([code, wait] {
            std::this_thread::sleep_for(wait);
            std::_Exit(code);
        }).detach();
    }
    if (end.abandoned) MPI_Abort(MPI_COMM_WORLD, code);
    MPI_Finalize();
    return code;
}
