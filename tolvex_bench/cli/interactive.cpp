#include "interactive.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "commands.hpp"
#include "script_run.hpp"

#if TOLVEX_CLI_WITH_LIBEDIT
#include <editline/readline.h>
#endif

namespace tolvex::cli {

namespace {

constexpr const char *kPrompt = "tolvex> ";

constexpr const char *kSessionHelp =
    "Type a command as in a script (tolvex_cli --help lists them), 'view hex' / 'view string',\n"
    "'expect ...' after a command, 'help COMMAND' for its arguments and their names, 'quit' to end.\n";

#if TOLVEX_CLI_WITH_LIBEDIT
// Completes the first word of a line from the command names.
char *next_match(const char *text, int state) {
  static std::vector<std::string> matches;
  static std::size_t at = 0;
  if (state == 0) {
    matches = complete_command(text);
    at = 0;
  }
  return at < matches.size() ? ::strdup(matches[at++].c_str()) : nullptr;
}

char **complete(const char *text, int start, int) {
  rl_attempted_completion_over = 1;  // never file names
  if (start != 0) return nullptr;
  return rl_completion_matches(text, next_match);
}
#endif

// One line from the terminal with editing and history, else from the stream.
bool read_line(std::istream &in, std::ostream &out, std::string &line) {
#if TOLVEX_CLI_WITH_LIBEDIT
  (void)in;
  (void)out;
  char *text = ::readline(kPrompt);
  if (text == nullptr) return false;
  line = text;
  if (!line.empty()) ::add_history(text);
  std::free(text);
  return true;
#else
  out << kPrompt << std::flush;
  return static_cast<bool>(std::getline(in, line));
#endif
}

}  // namespace

std::vector<std::string> complete_command(std::string_view prefix) {
  std::vector<std::string> out;
  const auto take = [&](std::string_view name) {
    if (name.substr(0, prefix.size()) == prefix) out.emplace_back(name);
  };
  for (const Command &c : commands()) {
    if (c.role != Role::Refused) take(c.name);
  }
  for (const char *word : {"help", "quit", "view", "expect"}) take(word);
  return out;
}

int run_interactive(Session &session, std::istream &in, std::ostream &out, std::ostream &err) {
#if TOLVEX_CLI_WITH_LIBEDIT
  rl_readline_name = "tolvex_cli";
  rl_attempted_completion_function = complete;
#endif
  if (!session.open_port()) return kExitPort;
  err << kSessionHelp << std::flush;  // standard output keeps to the commands' output
  ScriptRunner runner(session, "<session>", true, err);
  ScriptParser parser;
  std::string line;
  while (read_line(in, out, line)) {
    std::vector<std::string> words;
    std::string error;
    if (split_words(line, words, error) && !words.empty()) {
      if (words[0] == "quit" || words[0] == "exit") break;
      if (words[0] == "help") {
        const Command *command = words.size() > 1 ? find_command(words[1]) : nullptr;
        if (words.size() == 1) {
          out << kSessionHelp;
        } else if (command != nullptr && command->role != Role::Refused) {
          out << command_help(*command);
        } else {
          const std::string near = nearest_command(words[1]);
          err << "unknown command '" << words[1] << "'" << (near.empty() ? "" : " (did you mean '" + near + "'?)") << "\n";
        }
        out.flush();
        continue;
      }
      if (words[0] == "aging") {
        err << "the aging run is a command line of its own: tolvex_cli aging --count N ...\n";
        continue;
      }
    }
    std::optional<ScriptStep> step;
    if (!parser.parse_line(line, step, error)) {
      err << error << "\n";
      continue;
    }
    if (step && !runner.step(*step)) break;
    out.flush();
  }
  err << "\n" << std::flush;
  return runner.finish();
}

}  // namespace tolvex::cli
