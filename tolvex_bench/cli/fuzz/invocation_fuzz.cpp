// tolvex_cli's parsing of command lines and scripts fed arbitrary text. Nothing is sent.
//
// Input: a script, or, when it starts with a zero byte, a command line whose words are
// separated by zero bytes (as argv hands them over, quotes and blanks included).
//
// Checked for every call the parser accepts: it names a command the tool may send, its
// C arguments match the command's signature (numbers within their kind's range, fixed
// byte blocks at their size, data within the library's limit and followed by its
// count, a command code of three letters or digits), and writing the arguments back as
// canonical words (decimal numbers, upper-case hexadecimal) prepares the same call.
// Every script error names its line.
#include <tolvex/tolvex.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "commands.hpp"
#include "hex.hpp"
#include "invocation.hpp"

namespace {

using namespace tolvex::cli;

void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

bool in_range(std::int64_t v, Kind kind) {
  switch (kind) {
    case Kind::U8: return v >= 0 && v <= 255;
    case Kind::U32: return v >= 0 && v <= std::numeric_limits<std::uint32_t>::max();
    case Kind::I32:
    case Kind::Int: return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
    default: return false;
  }
}

// The words that prepare the same call again.
std::vector<std::string> canonical_words(const PreparedCall &call) {
  std::vector<std::string> words{std::string(call.command->name)};
  std::size_t at = 0;
  for (const ArgDescription &param : call.command->args) {
    const CArg &arg = call.c_args[at++];
    switch (param.kind) {
      case Kind::U8:
      case Kind::U32:
      case Kind::I32:
      case Kind::Int: words.push_back(std::to_string(arg.number)); break;
      case Kind::Str: words.push_back(arg.text); break;
      case Kind::Hex: ++at; [[fallthrough]];  // the count follows the bytes
      case Kind::HexFixed: words.push_back(tolvex::bench::plain_hex(arg.bytes.data(), arg.bytes.size())); break;
    }
  }
  return words;
}

void check_call(const PreparedCall &call) {
  check(call.command != nullptr, "an accepted call without a command");
  check(call.command->role != Role::Refused, "a refused export was accepted");
  std::size_t at = 0;
  for (const ArgDescription &param : call.command->args) {
    check(at < call.c_args.size(), "fewer C arguments than the signature names");
    const CArg &arg = call.c_args[at++];
    switch (param.kind) {
      case Kind::U8:
      case Kind::U32:
      case Kind::I32:
      case Kind::Int: check(in_range(arg.number, param.kind), "a number outside its kind's range"); break;
      case Kind::Str:
        if (param.name == "code") {
          check(arg.text.size() == 3, "a command code that is not three characters");
          for (char c : arg.text) check(std::isalnum(static_cast<unsigned char>(c)) != 0, "a command code with a character other than a letter or digit");
        }
        break;
      case Kind::HexFixed: check(arg.bytes.size() == param.size, "a fixed byte block not at its size"); break;
      case Kind::Hex:
        check(arg.bytes.size() <= TOLVEX_DATA_MAX, "data beyond the library's limit");
        check(at < call.c_args.size() && call.c_args[at].number == static_cast<std::int64_t>(arg.bytes.size()),
              "data not followed by its count");
        ++at;
        break;
    }
  }
  check(at == call.c_args.size(), "more C arguments than the signature names");
  if (call.command->role == Role::Terminal) check(call.code.size() == 3, "a terminal command without its code");

  PreparedCall again;
  std::string error;
  const std::vector<std::string> words = canonical_words(call);
  check(prepare_call(words, again, error), "the canonical words of an accepted call are refused");
  check(again.command == call.command && again.code == call.code && again.c_args.size() == call.c_args.size(),
        "the canonical words prepare another call");
  for (std::size_t i = 0; i < call.c_args.size(); ++i) {
    const CArg &a = call.c_args[i];
    const CArg &b = again.c_args[i];
    check(a.number == b.number && a.text == b.text && a.bytes == b.bytes, "the canonical words change an argument");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  if (!input.empty() && input[0] == '\0') {
    std::vector<std::string> words;
    std::size_t from = 1;
    for (;;) {
      const std::size_t zero = input.find('\0', from);
      words.push_back(input.substr(from, zero == std::string::npos ? std::string::npos : zero - from));
      if (zero == std::string::npos) break;
      from = zero + 1;
    }
    PreparedCall call;
    std::string error;
    if (prepare_call(words, call, error)) {
      check_call(call);
    } else {
      check(!error.empty(), "a refused command line without a message");
    }
    return 0;
  }

  std::istringstream in(input);
  std::vector<std::string> errors;
  const std::vector<ScriptStep> steps = parse_script(in, errors);
  for (const std::string &e : errors) {
    std::size_t digits = 0;
    while (digits < e.size() && std::isdigit(static_cast<unsigned char>(e[digits])) != 0) ++digits;
    check(digits > 0 && e.compare(digits, 2, ": ") == 0, "a script error without its line number");
  }
  int line = 0;
  for (const ScriptStep &step : steps) {
    check(step.line > line, "script steps out of line order");
    line = step.line;
    switch (step.kind) {
      case ScriptStep::Kind::View: check(step.view_mode == 0 || step.view_mode == 1, "an unknown view"); break;
      case ScriptStep::Kind::Call: check_call(step.call); break;
      case ScriptStep::Kind::Expect:
        check(step.expect.bytes.size() <= step.text.size() / 2, "expected bytes the line does not hold");
        break;
      case ScriptStep::Kind::Section: check(step.text.starts_with("# =="), "a section without its heading"); break;
    }
  }
  return 0;
}
