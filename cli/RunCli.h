// The runner but for its process: what main does once the signals are set.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "runner/Console.h"

// Parses args (without the program name), runs, reports and returns the exit
// code; a run stops once `interrupt` turns true. `terminals` says which of
// out and err are terminals, and how wide.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Terminals& terminals,
           const std::atomic<bool>& interrupt);
