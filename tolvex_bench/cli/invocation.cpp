#include "invocation.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

#include <tolvex/protocol.hpp>

#include "hex.hpp"

namespace tolvex::cli {

namespace {

struct Range {
  std::int64_t min;
  std::int64_t max;
};

Range range_of(Kind kind) {
  switch (kind) {
    case Kind::U8: return {0, 255};
    case Kind::U32: return {0, std::numeric_limits<std::uint32_t>::max()};
    case Kind::I32: return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    case Kind::Int: return {std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};
    default: return {0, 0};
  }
}

// Exports whose arguments decide which command code they send; every other export
// sends the code of its row.
struct CodeRule {
  std::string_view name;
  std::string (*code)(const std::vector<CArg> &args);
};

std::string raw_code(const std::vector<CArg> &a) { return a[0].text; }

constexpr CodeRule kCodeRules[] = {
    {"exe", raw_code},
    {"exe_cmd", raw_code},
    {"ms_rd", [](const std::vector<CArg> &a) { return std::string(ms_read_code(a[0].number)); }},
    {"ms_wt", [](const std::vector<CArg> &a) { return std::string(ms_write_code(a[0].number, a[1].number)); }},
    {"ms_all_wt", [](const std::vector<CArg> &a) { return std::string(ms_write_all_code(a[0].number)); }},
};

std::string code_sent(const Command &command, const std::vector<CArg> &args) {
  for (const CodeRule &rule : kCodeRules) {
    if (rule.name == command.name) return rule.code(args);
  }
  return std::string(command.code);
}

// How many leading arguments must be given: "exe" needs only its code; a setting whose
// mode does not set sends its mode alone, so its values may be left out.
std::size_t required_arguments(const Command &command, std::span<const std::string> values) {
  const std::vector<ArgDescription> &params = command.args;
  if (command.name == "exe") return 1;
  std::int64_t mode = 1;
  std::string ignored;
  if (!params.empty() && params[0].name == "mode" && !values.empty() &&
      parse_argument_number(params[0], values[0], mode, ignored) && !setting_sends_value(mode)) {
    return 1;
  }
  return params.size();
}

std::string describe(const ArgDescription &arg) { return arg.name + ":" + kind_text(arg); }

// Edits (insert, delete, replace, swap two neighbours) that turn a into b.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

std::string usage(const Command &c) {
  std::string u(c.name);
  if (!c.signature.empty()) u += " " + std::string(c.signature);
  return u;
}

}  // namespace

bool parse_number(std::string_view text, Kind kind, std::int64_t &value, std::string &error) {
  const Range range = range_of(kind);
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && digits.front() == '-') {
    negative = true;
    digits.remove_prefix(1);
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  std::uint64_t magnitude = 0;
  const char *end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, magnitude, base);
  if (digits.empty() || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
    error = "'" + std::string(text) + "' is not a number";
    return false;
  }
  const bool too_big = ec == std::errc::result_out_of_range ||
                       magnitude > static_cast<std::uint64_t>(negative ? -(range.min + 1) + 1 : range.max);
  if ((negative && range.min == 0 && magnitude != 0) || too_big) {
    error = "number " + std::string(text) + " out of range " + std::to_string(range.min) + " to " +
            std::to_string(range.max);
    return false;
  }
  value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

std::string nearest_command(std::string_view word) {
  // Close enough to be a slip: a third of the word's length, at least one edit.
  std::size_t best = std::max<std::size_t>(1, word.size() / 3) + 1;
  std::string found;
  auto consider = [&](std::string_view name) {
    const std::size_t d = edit_distance(word, name);
    if (d > 0 && d < best) {
      best = d;
      found = name;
    }
  };
  for (const Command &c : commands()) {
    if (c.role != Role::Refused) consider(c.name);
  }
  consider("aging");
  return found;
}

bool parse_argument_number(const ArgDescription &arg, std::string_view text, std::int64_t &value, std::string &error) {
  if (value_of_name(arg, text, value)) return true;
  if (parse_number(text, arg.kind, value, error)) return true;
  if (!arg.names.empty()) error += "; by name: " + names_text(arg);
  return false;
}

bool prepare_call(std::span<const std::string> words, PreparedCall &out, std::string &error) {
  out = PreparedCall{};
  if (words.empty()) {
    error = "no command given";
    return false;
  }
  const Command *command = find_command(words[0]);
  if (command == nullptr) {
    const std::string near = nearest_command(words[0]);
    error = "unknown command '" + words[0] + "'" +
            (near.empty() ? " (tolvex_cli --help lists them)" : " (did you mean '" + near + "'?)");
    return false;
  }
  if (command->role == Role::Refused) {
    error = "'" + words[0] + "' is not a terminal command: the tool opens the port, collects outcomes and stops "
            "commands itself";
    return false;
  }
  const std::span<const std::string> values = words.subspan(1);
  const std::vector<ArgDescription> &params = command->args;

  const std::size_t required = required_arguments(*command, values);
  if (values.size() < required || values.size() > params.size()) {
    error = "'" + words[0] + "' takes " +
            (required == params.size() ? std::to_string(params.size()) : std::to_string(required) + " to " + std::to_string(params.size())) +
            " argument" + (params.size() == 1 ? "" : "s") + ", got " + std::to_string(values.size()) + " (usage: " +
            usage(*command) + ")";
    return false;
  }

  for (std::size_t i = 0; i < params.size(); ++i) {
    const ArgDescription &param = params[i];
    const bool given = i < values.size();
    const std::string &text = given ? values[i] : std::string();
    switch (param.kind) {
      case Kind::U8:
      case Kind::U32:
      case Kind::I32:
      case Kind::Int: {
        CArg arg;
        if (given && !parse_argument_number(param, text, arg.number, error)) {
          error = describe(param) + ": " + error;
          return false;
        }
        out.c_args.push_back(std::move(arg));
        break;
      }
      case Kind::Str: {
        if (param.name == "code" && (text.size() != 3 || text.find_first_not_of(
                                                             "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                             "abcdefghijklmnopqrstuvwxyz0123456789") != std::string::npos)) {
          error = describe(param) + ": a command code is three letters or digits, such as C11, got '" + text + "'";
          return false;
        }
        CArg arg;
        arg.text = text;
        out.c_args.push_back(std::move(arg));
        break;
      }
      case Kind::HexFixed:
      case Kind::Hex: {
        CArg bytes;
        std::string hex_error;
        if (!bench::parse_hex_strict(text, bytes.bytes, &hex_error)) {
          error = describe(param) + ": " + hex_error;
          return false;
        }
        if (param.kind == Kind::HexFixed) {
          if (bytes.bytes.size() > param.size) {
            error = describe(param) + ": " + std::to_string(bytes.bytes.size()) + " bytes given, at most " +
                    std::to_string(param.size);
            return false;
          }
          bytes.bytes.resize(param.size, 0);  // shorter input is zero-filled
          out.c_args.push_back(std::move(bytes));
        } else {
          if (bytes.bytes.size() > kDataMax) {
            error = describe(param) + ": " + std::to_string(bytes.bytes.size()) + " bytes given, at most " +
                    std::to_string(kDataMax);
            return false;
          }
          CArg count;
          count.number = static_cast<std::int64_t>(bytes.bytes.size());
          out.c_args.push_back(std::move(bytes));
          out.c_args.push_back(std::move(count));
        }
        break;
      }
    }
  }
  out.command = command;

  out.code = code_sent(*command, out.c_args);
  return true;
}

bool split_words(std::string_view line, std::vector<std::string> &words, std::string &error) {
  words.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (c == '#') break;
    std::string word;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n' && line[i] != '#') {
      if (line[i] == '"') {
        const std::size_t close = line.find('"', i + 1);
        if (close == std::string_view::npos) {
          error = "unclosed double quote";
          return false;
        }
        word.append(line.substr(i + 1, close - i - 1));
        i = close + 1;
      } else {
        word += line[i++];
      }
    }
    words.push_back(std::move(word));
  }
  return true;
}

int view_mode_from_text(std::string_view text) {
  if (text == "string") return 0;
  if (text == "hex") return 1;
  return -1;
}

namespace {

// "expect ok", "expect 0x2005", "expect data 0101", "expect data-prefix 01".
bool parse_expectation(const std::vector<std::string> &words, Expectation &out, std::string &error) {
  const std::string usage = "'expect' takes ok, a result code or status word (0x2005), 'data HEX' or 'data-prefix HEX'";
  if (words.size() == 2 && words[1] == "ok") {
    out.kind = Expectation::Kind::Ok;
    return true;
  }
  if (words.size() == 2 && words[1] == "data") {  // no bytes at all came back
    out.kind = Expectation::Kind::Data;
    return true;
  }
  if (words.size() == 2) {
    out.kind = Expectation::Kind::Result;
    std::string why;
    if (!parse_number(words[1], Kind::I32, out.result, why)) {
      error = usage + ", got '" + words[1] + "'";
      return false;
    }
    return true;
  }
  if (words.size() == 3 && (words[1] == "data" || words[1] == "data-prefix")) {
    out.kind = words[1] == "data" ? Expectation::Kind::Data : Expectation::Kind::DataPrefix;
    std::string why;
    if (!bench::parse_hex_strict(words[2], out.bytes, &why)) {
      error = "expect " + words[1] + ": " + why;
      return false;
    }
    return true;
  }
  error = usage;
  return false;
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

bool ScriptParser::parse_line(std::string_view line, std::optional<ScriptStep> &step, std::string &error) {
  ++number_;
  step.reset();
  const std::string_view text = trimmed(line);
  if (text.starts_with("# ==")) {
    std::string_view title = text.substr(4);
    title = trimmed(title.substr(std::min(title.size(), title.find_first_not_of('='))));
    while (!title.empty() && title.back() == '=') title = trimmed(title.substr(0, title.size() - 1));
    ScriptStep s;
    s.kind = ScriptStep::Kind::Section;
    s.line = number_;
    s.text = std::string(text);
    s.title = std::string(title);
    step = std::move(s);
    return true;
  }
  std::vector<std::string> words;
  if (!split_words(line, words, error)) return false;
  if (words.empty()) return true;
  ScriptStep s;
  s.line = number_;
  s.text = std::string(text);
  if (words[0] == "view") {
    const int mode = words.size() == 2 ? view_mode_from_text(words[1]) : -1;
    if (mode < 0) {
      error = "'view' takes one word, string or hex";
      return false;
    }
    s.kind = ScriptStep::Kind::View;
    s.view_mode = mode;
  } else if (words[0] == "expect") {
    if (!after_call_) {
      error = "'expect' follows no command";
      return false;
    }
    if (!parse_expectation(words, s.expect, error)) return false;
    s.kind = ScriptStep::Kind::Expect;
  } else {
    if (!prepare_call(words, s.call, error)) return false;
    s.kind = ScriptStep::Kind::Call;
  }
  // An expectation checks the command just before it (other expectations between).
  after_call_ = s.kind == ScriptStep::Kind::Call || (after_call_ && s.kind == ScriptStep::Kind::Expect);
  step = std::move(s);
  return true;
}

void read_script(std::istream &in, const std::function<bool(const ScriptStep &)> &on_step,
                 const std::function<bool(const std::string &)> &on_error) {
  ScriptParser parser;
  std::string line;
  while (std::getline(in, line)) {
    std::optional<ScriptStep> step;
    std::string error;
    if (!parser.parse_line(line, step, error)) {
      if (!on_error(std::to_string(parser.line_number()) + ": " + error)) return;
      continue;
    }
    if (step && !on_step(*step)) return;
  }
}

std::vector<ScriptStep> parse_script(std::istream &in, std::vector<std::string> &errors) {
  std::vector<ScriptStep> steps;
  read_script(
      in,
      [&steps](const ScriptStep &step) {
        steps.push_back(step);
        return true;
      },
      [&errors](const std::string &error) {
        errors.push_back(error);
        return true;
      });
  return steps;
}

}  // namespace tolvex::cli
