// The operator's words on the program's standard input, one a line: the same actions as
// the signals of the POSIX program (take the card, a service visit, the lasting states).
#pragma once

#include <string>

namespace tolvex::sim {

class Simulator;

// The words and what they do, for --help.
extern const char *const kWordsHelp;

// Carries out one line; an empty text when it was a word (or blank), else a short
// message saying what is wrong with it.
std::string apply_word(Simulator &sim, const std::string &line);

}  // namespace tolvex::sim
