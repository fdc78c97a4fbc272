// "tolvex_cli aging": the bench's aging run without a window. Prints each command's
// report, "Remain: R" at each cycle start and at the end, and the five error texts.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "session.hpp"

namespace tolvex::cli {

// Runs `aging ARGS...` (`words` without the word "aging"): kExitOk when the run counted
// down to 0, kExitFailed when it ended early or the port did not open, kExitUsage for
// a bad command line (nothing sent). The first interrupt (Ctrl-C) asks the run to stop
// after its cycle, the second gives up the command in flight and ends the run.
int run_aging(const SessionOptions &options, const std::vector<std::string> &words, std::ostream &out,
              std::ostream &err);

// The usage lines of the aging command, for the tool's help.
std::string aging_usage();

}  // namespace tolvex::cli
