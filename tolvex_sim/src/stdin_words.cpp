#include "stdin_words.hpp"

#include <sstream>

#include "tolvex_sim/simulator.hpp"

namespace tolvex::sim {

const char *const kWordsHelp =
    "Words read from standard input, one a line (the end of input leaves the simulator running): take (the "
    "card waiting at the exit is taken), service (an operator's service visit: the transport and the capture "
    "box emptied, every lasting state cleared), clear (every lasting state cleared, cartridges back in), jam "
    "(a card sticks in the transport), nocartridge S (stacker S, 1 or 2, loses its cartridge), empty S "
    "(stacker S reads empty), low S (stacker S reads near-empty). nocartridge=S, empty=S and low=S as in "
    "--fault are taken too.";

namespace {

// The conditions set by a word with a stacker number, stacker 1 first.
struct StackerWord {
  const char *word;
  Condition stacker[2];
};
constexpr StackerWord kStackerWords[] = {
    {"nocartridge", {Condition::NoCartridge1, Condition::NoCartridge2}},
    {"empty", {Condition::Stacker1Empty, Condition::Stacker2Empty}},
    {"low", {Condition::Stacker1Low, Condition::Stacker2Low}},
};

}  // namespace

std::string apply_word(Simulator &sim, const std::string &line) {
  std::string text = line;
  for (char &c : text)
    if (c == '=' || c == '\r' || c == '\t') c = ' ';
  std::istringstream in(text);
  std::string word, argument, extra;
  in >> word >> argument >> extra;
  if (word.empty()) return {};
  if (!extra.empty()) return "'" + line + "': one word and at most a stacker number";
  const bool plain = argument.empty();
  if (word == "take" && plain) {
    sim.take_card();
  } else if (word == "service" && plain) {
    sim.service();
  } else if (word == "clear" && plain) {
    sim.clear_conditions();
  } else if (word == "jam" && plain) {
    sim.set_condition(Condition::Jam);
  } else {
    for (const StackerWord &w : kStackerWords) {
      if (word != w.word) continue;
      if (argument != "1" && argument != "2") return "'" + line + "': " + word + " wants a stacker, 1 or 2";
      sim.set_condition(w.stacker[argument[0] - '1']);
      return {};
    }
    if (word == "take" || word == "service" || word == "clear" || word == "jam")
      return "'" + line + "': " + word + " takes no argument";
    return "'" + line + "': unknown word (take, service, clear, jam, nocartridge S, empty S, low S)";
  }
  return {};
}

}  // namespace tolvex::sim
