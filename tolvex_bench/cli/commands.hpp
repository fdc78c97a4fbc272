// The command-line tool's command list, generated from the library's export table:
// each export with its argument signature, the command code it sends and a caller
// that passes parsed arguments to the real export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolvex::cli {

// Kinds of the argument grammar of the export table.
enum class Kind { U8, U32, I32, Int, Str, HexFixed, Hex };

// A name the bench's lists give one value of a numeric argument ("RF" for destination 3).
struct ValueName {
  std::string_view name;
  std::uint8_t value;
};

struct ArgDescription {
  std::string name;
  Kind kind = Kind::U8;
  std::size_t size = 0;  // byte count of HexFixed
  std::span<const ValueName> names;  // accepted besides the number; empty for most
};

// One C argument as the export receives it: a number, a text, or bytes. A Hex argument
// fills two positions: its bytes, then their count as a number.
struct CArg {
  std::int64_t number = 0;
  std::string text;
  std::vector<std::uint8_t> bytes;
};

// What an export call gave back: the process number, or nothing for the void exports.
struct CallResult {
  bool has_process_number = false;
  int process_number = 0;
};

using Invoker = CallResult (*)(std::span<const CArg> args);

// How the tool treats an export: terminal commands are sent and reported; local ones
// (delay, call_src_ver) just run; refused ones belong to the tool itself (port, polling).
enum class Role { Terminal, Local, Refused };

struct Command {
  int ordinal = 0;  // 0 for the tool's own "exe"
  std::string_view name;
  std::string_view signature;
  std::string_view code;
  std::string_view purpose;
  Role role = Role::Terminal;
  std::vector<ArgDescription> args;
  Invoker invoke = nullptr;
};

// Every export in ordinal order, then "exe" (exe_cmd with optional data).
const std::vector<Command> &commands();

// The command of that name, or null.
const Command *find_command(std::string_view name);

// The value a name stands for, case-insensitively; false when the argument has no such
// name.
bool value_of_name(const ArgDescription &arg, std::string_view text, std::int64_t &value);

// "MS=1 IC=2 RF=3 Feeder=4 Print=5"; empty when the argument has no names.
std::string names_text(const ArgDescription &arg);

// What "help COMMAND" prints: the usage, the purpose and code, and each argument with
// its kind and the values' names.
std::string command_help(const Command &command);

// "u8", "hex16", ... as written in the export table.
std::string kind_text(const ArgDescription &arg);

// Parses a signature "name:kind name:kind ..."; throws std::invalid_argument on a kind
// the grammar does not know.
std::vector<ArgDescription> parse_signature(std::string_view signature);

}  // namespace tolvex::cli
