// Turning typed words into a checked call of one export, and scripts into lists of them.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands.hpp"

namespace tolvex::cli {

struct PreparedCall {
  const Command *command = nullptr;
  std::vector<CArg> c_args;  // in the export's parameter order
  std::string code;          // command code the call sends, named in the report
};

// Reads a number of the kind: decimal, or hexadecimal after "0x"/"0X"; a '-' only for
// the signed kinds. False with a message when it is no number or out of the kind's range.
bool parse_number(std::string_view text, Kind kind, std::int64_t &value, std::string &error);

// The command name (or "aging") a misspelt word most likely meant; empty when none is
// close.
std::string nearest_command(std::string_view word);

// A numeric argument's value: one of its names (case-insensitive), else a number of its
// kind. False with a message that lists the names when it is neither.
bool parse_argument_number(const ArgDescription &arg, std::string_view text, std::int64_t &value, std::string &error);

// Checks "COMMAND ARGS..." against the command's signature and builds the C arguments.
// Nothing is sent. False with a message naming the problem.
bool prepare_call(std::span<const std::string> words, PreparedCall &out, std::string &error);

// Splits a script line into words: blanks separate, '#' starts a comment, double quotes
// group a word (so "" is an empty word). False with a message on an open quote.
bool split_words(std::string_view line, std::vector<std::string> &words, std::string &error);

// What an "expect" line says must have come back from the command before it.
struct Expectation {
  enum class Kind { Ok, Result, Data, DataPrefix } kind = Kind::Ok;
  std::int64_t result = 0;          // Result: the result code or status word (0x2005)
  std::vector<std::uint8_t> bytes;  // Data, DataPrefix
};

struct ScriptStep {
  enum class Kind { Call, View, Expect, Section } kind = Kind::Call;
  int line = 0;
  std::string text;  // the line as written, without blanks around it
  int view_mode = 0;           // View
  PreparedCall call;           // Call
  Expectation expect;          // Expect
  std::string title;           // Section: the text of a "# ==" heading
};

// Reads scripts line by line: a command, "view hex" / "view string", "expect ok",
// "expect 0x2005" (a result code or status word), "expect data HEX", "expect data-prefix
// HEX" after a command, and "# == TITLE" headings that start a section.
class ScriptParser {
 public:
  // True with a step, or with none for a blank or comment line; false with a message.
  bool parse_line(std::string_view line, std::optional<ScriptStep> &step, std::string &error);
  int line_number() const { return number_; }

 private:
  int number_ = 0;
  bool after_call_ = false;
};

// Reads a script line by line as it arrives, handing each step to `on_step` and each
// faulty line's "LINE: message" to `on_error`; either returns false to stop reading.
void read_script(std::istream &in, const std::function<bool(const ScriptStep &)> &on_step,
                 const std::function<bool(const std::string &)> &on_error);

// Reads a whole script and checks every line before anything is sent. Errors are
// "LINE: message" texts; the steps are valid only when there are none.
std::vector<ScriptStep> parse_script(std::istream &in, std::vector<std::string> &errors);

// "string" gives 0, "hex" 1; anything else -1.
int view_mode_from_text(std::string_view text);

}  // namespace tolvex::cli
