// The interactive session: the port opened once, lines read (the script syntax) and run
// as each is entered, with line editing, history and completion of command names when
// the program was built with libedit.
#pragma once

#include <istream>
#include <ostream>

#include "session.hpp"

namespace tolvex::cli {

// Reads lines until end of input or "quit"; "help" and "help COMMAND" answer at once.
// Returns the exit status: 0, or 1 when a command failed or an expectation was missed,
// 3 when the port could not be opened.
int run_interactive(Session &session, std::istream &in, std::ostream &out, std::ostream &err);

// Command names (and "help", "quit") that start with `prefix`, for completion.
std::vector<std::string> complete_command(std::string_view prefix);

}  // namespace tolvex::cli
