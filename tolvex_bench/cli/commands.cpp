#include "commands.hpp"

#include <array>
#include <cctype>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include <tolvex/tolvex.h>

namespace tolvex::cli {

namespace {

// ---- The argument grammar -----------------------------------------------------------

// One argument of a signature: "name:kind", in brackets when it may be left out.
struct ArgToken {
  std::string_view text;  // as written, without brackets
  std::string_view name;
  std::string_view kind_text;
  Kind kind = Kind::U8;
  std::size_t size = 0;  // byte count of HexFixed
  enum class Problem { none, no_kind, bad_kind } problem = Problem::none;
};

// Takes the next argument off a signature; false when none is left. The one parser of
// the grammar: the compile-time check of the export table and the run-time command
// list both read signatures through it.
constexpr bool next_argument(std::string_view &sig, ArgToken &out) {
  std::size_t i = 0;
  while (i < sig.size() && sig[i] == ' ') ++i;
  if (i >= sig.size()) {
    sig = {};
    return false;
  }
  std::size_t j = i;
  while (j < sig.size() && sig[j] != ' ') ++j;
  std::string_view token = sig.substr(i, j - i);
  sig.remove_prefix(j);
  if (token.size() >= 2 && token.front() == '[' && token.back() == ']') token = token.substr(1, token.size() - 2);
  out = ArgToken{};
  out.text = token;
  const std::size_t colon = token.find(':');
  if (colon == std::string_view::npos) {
    out.problem = ArgToken::Problem::no_kind;
    return true;
  }
  out.name = token.substr(0, colon);
  const std::string_view kind = token.substr(colon + 1);
  out.kind_text = kind;
  if (kind == "u8") {
    out.kind = Kind::U8;
  } else if (kind == "u32") {
    out.kind = Kind::U32;
  } else if (kind == "i32") {
    out.kind = Kind::I32;
  } else if (kind == "int") {
    out.kind = Kind::Int;
  } else if (kind == "str") {
    out.kind = Kind::Str;
  } else if (kind == "hex") {
    out.kind = Kind::Hex;
  } else if (kind.size() > 3 && kind.substr(0, 3) == "hex") {
    out.kind = Kind::HexFixed;
    for (char c : kind.substr(3)) {
      if (c < '0' || c > '9') {
        out.problem = ArgToken::Problem::bad_kind;
        break;
      }
      out.size = out.size * 10 + static_cast<std::size_t>(c - '0');
    }
  } else {
    out.problem = ArgToken::Problem::bad_kind;
  }
  return true;
}

// ---- Names for numbers ------------------------------------------------------------

// The values of the bench's lists by their names (value_names.inc); parsing, help and
// completion read them through ArgDescription::names.
#define TOLVEX_VALUES(list, ...) constexpr ValueName list[] = {__VA_ARGS__};
#include "value_names.inc"
#undef TOLVEX_VALUES

struct NamedArgument {
  std::string_view command;  // empty: every command with an argument of that name
  std::string_view argument;
  std::span<const ValueName> names;
};

constexpr NamedArgument kNamedArguments[] = {
#define TOLVEX_NAMED(command, argument, list) {command, argument, list},
#include "value_names.inc"
#undef TOLVEX_NAMED
};

std::span<const ValueName> names_of(std::string_view command, std::string_view argument) {
  for (const NamedArgument &n : kNamedArguments) {
    if ((n.command.empty() || n.command == command) && n.argument == argument) return n.names;
  }
  return {};
}

bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// ---- Compile-time check of each row's signature against the export's C parameters --

// Kinds of the C parameters a signature stands for: a "hex" argument is a pointer
// followed by a count.
enum class CKind { U8, U32, I32, Int, Text, Bytes, Count, Bad };

constexpr std::size_t kMaxCArgs = 8;

struct CSignature {
  std::array<CKind, kMaxCArgs> kinds{};
  std::size_t count = 0;
  bool ok = true;
};

constexpr CSignature c_signature(std::string_view sig) {
  CSignature out;
  auto push = [&out](CKind k) {
    if (out.count < kMaxCArgs) {
      out.kinds[out.count] = k;
    } else {
      out.ok = false;
    }
    ++out.count;
  };
  for (ArgToken arg; next_argument(sig, arg);) {
    if (arg.problem != ArgToken::Problem::none) {
      out.ok = false;
      break;
    }
    switch (arg.kind) {
      case Kind::U8: push(CKind::U8); break;
      case Kind::U32: push(CKind::U32); break;
      case Kind::I32: push(CKind::I32); break;
      case Kind::Int: push(CKind::Int); break;
      case Kind::Str: push(CKind::Text); break;
      case Kind::Hex:
        push(CKind::Bytes);
        push(CKind::Count);
        break;
      case Kind::HexFixed: push(CKind::Bytes); break;
    }
  }
  return out;
}

template <typename P>
constexpr bool param_fits(CKind k) {
  switch (k) {
    case CKind::U8: return std::is_same_v<P, std::uint8_t>;
    case CKind::U32:
    case CKind::Count: return std::is_same_v<P, std::uint32_t>;
    case CKind::I32: return std::is_same_v<P, std::int32_t>;
    case CKind::Int: return std::is_same_v<P, int>;
    case CKind::Text: return std::is_same_v<P, const char *>;
    case CKind::Bytes: return std::is_same_v<P, const std::uint8_t *>;
    case CKind::Bad: return false;
  }
  return false;
}

template <typename R, typename... P>
constexpr bool signature_matches(R (*)(P...), std::string_view sig) {
  const CSignature s = c_signature(sig);
  if (!s.ok || s.count != sizeof...(P)) return false;
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return (param_fits<P>(s.kinds[I]) && ...);
  }(std::index_sequence_for<P...>{});
}

// Rows the tool handles itself may take C arguments the grammar cannot describe
// (chk_res fills caller memory); every other row must match exactly.
constexpr bool tool_row(std::string_view name) {
  return name == "EnablePort" || name == "DisablePort" || name == "chk_res" || name == "exe_stop";
}

#define TOLVEX_EXPORT(ordinal, name, args, code, purpose)                 \
  static_assert(tool_row(#name) || signature_matches(&::name, args), \
                "export table row " #name " does not match its C parameters");
#define TOLVEX_EXTRA(name, purpose)
#include "export_table.inc"
#undef TOLVEX_EXPORT
#undef TOLVEX_EXTRA

// ---- Calling an export with parsed arguments ---------------------------------------

// Each C parameter takes its value from the CArg of the same position (a "hex" argument
// fills two positions: its bytes, then their count as a number).
template <typename P>
P convert(const CArg &arg) {
  if constexpr (std::is_same_v<P, const char *>) {
    return arg.text.c_str();
  } else if constexpr (std::is_same_v<P, const std::uint8_t *>) {
    return arg.bytes.empty() ? nullptr : arg.bytes.data();
  } else {
    return static_cast<P>(arg.number);
  }
}

template <typename R, typename... P>
CallResult call(R (*fn)(P...), std::span<const CArg> args) {
  if (args.size() != sizeof...(P)) throw std::logic_error("wrong argument count for an export");
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
      fn(convert<P>(args[I])...);
      return CallResult{};
    } else {
      return CallResult{true, static_cast<int>(fn(convert<P>(args[I])...))};
    }
  }(std::index_sequence_for<P...>{});
}

template <auto Fn, bool Matches>
CallResult invoke_export(std::span<const CArg> args) {
  if constexpr (Matches) {
    return call(Fn, args);
  } else {
    (void)args;
    throw std::logic_error("this export is not called with parsed arguments");
  }
}

Role role_of(std::string_view name, std::string_view code) {
  if (name == "delay" || name == "call_src_ver") return Role::Local;
  if (name == "exe_cmd") return Role::Terminal;
  return code.empty() ? Role::Refused : Role::Terminal;
}

std::vector<Command> build_commands() {
  std::vector<Command> out;
#define TOLVEX_EXPORT(ordinal, name, args, code, purpose)                                              \
  out.push_back(Command{ordinal, #name, args, code, purpose, role_of(#name, code), parse_signature(args), \
                        &invoke_export<&::name, signature_matches(&::name, args)>});
#define TOLVEX_EXTRA(name, purpose)
#include "export_table.inc"
#undef TOLVEX_EXPORT
#undef TOLVEX_EXTRA
  for (Command &c : out) {
    for (ArgDescription &arg : c.args) arg.names = names_of(c.name, arg.name);
  }
  // The raw command under a short name; its data may be left out.
  for (const Command &c : out) {
    if (c.name == "exe_cmd") {
      Command exe = c;
      exe.ordinal = 0;
      exe.name = "exe";
      exe.signature = "code:str [data:hex]";
      exe.purpose = "send any command code with optional data bytes (exe_cmd)";
      out.push_back(exe);
      break;
    }
  }
  return out;
}

}  // namespace

std::vector<ArgDescription> parse_signature(std::string_view signature) {
  std::vector<ArgDescription> out;
  for (ArgToken arg; next_argument(signature, arg);) {
    if (arg.problem == ArgToken::Problem::no_kind) {
      throw std::invalid_argument("argument without kind: " + std::string(arg.text));
    }
    if (arg.problem == ArgToken::Problem::bad_kind) {
      throw std::invalid_argument("bad kind: " + std::string(arg.kind_text));
    }
    out.push_back(ArgDescription{std::string(arg.name), arg.kind, arg.size, {}});
  }
  return out;
}

bool value_of_name(const ArgDescription &arg, std::string_view text, std::int64_t &value) {
  for (const ValueName &n : arg.names) {
    if (same_letters(n.name, text)) {
      value = n.value;
      return true;
    }
  }
  return false;
}

std::string names_text(const ArgDescription &arg) {
  std::string out;
  for (const ValueName &n : arg.names) {
    if (!out.empty()) out += ' ';
    out += std::string(n.name) + "=" + std::to_string(n.value);
  }
  return out;
}

std::string command_help(const Command &command) {
  std::string out(command.name);
  if (!command.signature.empty()) out += " " + std::string(command.signature);
  out += "\n  " + std::string(command.purpose);
  if (!command.code.empty() && command.role == Role::Terminal) out += " [" + std::string(command.code) + "]";
  out += "\n";
  for (const ArgDescription &arg : command.args) {
    out += "  " + arg.name + ": " + kind_text(arg);
    const std::string names = names_text(arg);
    if (!names.empty()) out += ", or by name: " + names;
    out += "\n";
  }
  return out;
}

std::string kind_text(const ArgDescription &arg) {
  switch (arg.kind) {
    case Kind::U8: return "u8";
    case Kind::U32: return "u32";
    case Kind::I32: return "i32";
    case Kind::Int: return "int";
    case Kind::Str: return "str";
    case Kind::Hex: return "hex";
    case Kind::HexFixed: return "hex" + std::to_string(arg.size);
  }
  return "?";
}

const std::vector<Command> &commands() {
  static const std::vector<Command> list = build_commands();
  return list;
}

const Command *find_command(std::string_view name) {
  for (const Command &c : commands()) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

}  // namespace tolvex::cli
