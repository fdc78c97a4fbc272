// tolvex_cli: runs the library's commands from the command line or from a script and
// prints the bench's report of each outcome.
#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include <tolvex/protocol.hpp>

#include <tolvex/tolvex.h>

#include "aging_command.hpp"
#include "commands.hpp"
#include "interactive.hpp"
#include "invocation.hpp"
#include "ports.hpp"
#include "script_run.hpp"
#include "session.hpp"
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include "serial_ports.hpp"
#endif

namespace {

using namespace tolvex::cli;

#ifdef _WIN32
constexpr const char *kPortHelp = "serial port: COMn or \\\\.\\COMn";
constexpr const char *kPortNames = "\nCOMn names: the system's own COM ports (tolvex_cli ports lists them).\n";
#else
constexpr const char *kPortHelp = "serial port: a device path, COMn ($TOLVEX_COMn, else ports.conf, else /dev/ttyS<n-1>), or a terminal on the network: socket://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet COM port control)";
constexpr const char *kPortNames =
    "\nCOMn names: $TOLVEX_COMn, else the line COMn=DEVICE of $XDG_CONFIG_HOME/tolvex/ports.conf\n"
    "(default ~/.config/tolvex/ports.conf), else /dev/ttyS<n-1>.\n";
#endif

constexpr const char *kUsage =
    "Usage: tolvex_cli [OPTIONS] COMMAND [ARGS...]\n"
    "  or:  tolvex_cli [OPTIONS] --script FILE\n"
    "  or:  tolvex_cli [OPTIONS] aging --count N [AGING OPTIONS]\n"
    "  or:  tolvex_cli [OPTIONS]        (on a terminal: a session, a command a line)\n"
    "  or:  tolvex_cli help [COMMAND]\n"
    "  or:  tolvex_cli ports\n"
    "Options may come before or after the command; words after '--' are the command's.\n";

// One usage block, the tool's own, instead of the one the parser would make.
class ToolFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App *, std::string) const override { return kUsage; }
};

std::string command_list() {
  std::ostringstream os;
  os << "\nCommands (numbers in decimal or 0x-hex, or by the name of their value: 'tolvex_cli help COMMAND'\n"
        "lists them; hex = bytes as hexadecimal text, hexN = N bytes, shorter input zero-filled; after a\n"
        "mode other than 1 the remaining arguments may be left out):\n";
  for (const Command &c : commands()) {
    if (c.role == Role::Refused) continue;
    std::string usage(c.name);
    if (!c.signature.empty()) usage += " " + std::string(c.signature);
    os << "  " << usage;
    const std::size_t width = 52;
    os << (usage.size() < width ? std::string(width - usage.size(), ' ') : std::string("\n  " + std::string(width, ' ')));
    os << c.purpose;
    if (!c.code.empty() && c.role == Role::Terminal) os << " [" << c.code << "]";
    os << "\n";
  }
  os << "\nThe aging run:\n" << aging_usage();
  os << "\nScript files hold one command per line, '#' starts a comment, and the lines\n"
        "'view hex' / 'view string' switch the report view.\n"
     << kPortNames
     << "Exit status: 0 success, 1 a command failed or an expectation was missed, 2 bad command line or script (nothing is\n"
        "sent), 3 the port could not be opened.\n";
  return os.str();
}

// The command line split into the tool's options (with their values) and the command's
// words, so that options may come before or after the command. A word that names none
// of the tool's options is the command's: a negative number, and after "aging" that
// run's own options and its --help. Everything after "--" is the command's.
struct CommandLine {
  std::vector<std::string> options;
  std::vector<std::string> words;
};

CommandLine split_command_line(const CLI::App &app, int argc, char **argv) {
  CommandLine line;
  bool words_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (words_only) {
      line.words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      words_only = true;
      continue;
    }
    const bool dashed = arg.size() > 1 && arg[0] == '-' && std::isdigit(static_cast<unsigned char>(arg[1])) == 0;
    if (!dashed) {
      line.words.push_back(arg);
      continue;
    }
    const bool aging = !line.words.empty() && line.words.front() == "aging";
    const std::string name = arg.substr(0, arg.find('='));
    const CLI::Option *option = app.get_option_no_throw(name);
    if (option == nullptr || (aging && option == app.get_help_ptr())) {
      // Unknown here: the aging run's, or an error the parser names.
      (aging ? line.words : line.options).push_back(arg);
      continue;
    }
    line.options.push_back(arg);
    if (option->get_items_expected_min() > 0 && name.size() == arg.size() && i + 1 < argc) line.options.push_back(argv[++i]);
  }
  // "ports" is the parser's own subcommand.
  if (!line.words.empty() && line.words.front() == "ports") {
    line.options.insert(line.options.end(), line.words.begin(), line.words.end());
    line.words.clear();
  }
  return line;
}

// "help COMMAND": the command's arguments and the names of their values.
int print_command_help(const std::string &name, std::ostream &out, std::ostream &err) {
  if (name == "aging") {
    out << aging_usage();
    return kExitOk;
  }
  const Command *command = find_command(name);
  if (command == nullptr || command->role == Role::Refused) {
    const std::string near = nearest_command(name);
    err << "tolvex_cli: unknown command '" << name << "'"
        << (near.empty() ? std::string(" (tolvex_cli --help lists them)") : " (did you mean '" + near + "'?)") << "\n";
    return kExitUsage;
  }
  out << command_help(*command);
  return kExitOk;
}

// True when standard input is a regular file: a script read from it is checked whole
// before anything is sent, as a named file is; from a pipe or a terminal each line runs
// as it arrives.
bool stdin_is_file() {
#ifdef _WIN32
  return true;
#else
  struct stat info {};
  return ::fstat(0, &info) == 0 && S_ISREG(info.st_mode);
#endif
}

int run_script(Session &session, std::istream &in, const std::string &name, bool keep_going, bool whole,
               const std::string &junit) {
  ScriptRunner runner(session, name, keep_going, std::cerr);
  int status = kExitOk;
  if (whole) {
    std::vector<std::string> errors;
    const std::vector<ScriptStep> steps = parse_script(in, errors);
    if (!errors.empty()) {
      for (const std::string &e : errors) std::cerr << name << ":" << e << "\n";
      return kExitUsage;
    }
    // After a stop the rest is only counted, as skipped, for the report.
    for (const ScriptStep &step : steps) runner.step(step);
  } else {
    read_script(
        in, [&runner](const ScriptStep &step) { return runner.step(step); },
        [&](const std::string &error) {
          std::cerr << name << ":" << error << "\n";
          status = kExitUsage;
          return false;
        });
  }
  const int ran = runner.finish();
  if (status == kExitOk) status = ran;
  if (!junit.empty()) {
    std::ofstream file(junit);
    write_junit(file, name, runner.cases());
    if (!file) std::cerr << "tolvex_cli: cannot write the JUnit report " << junit << "\n";
  }
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"Runs terminal commands through libtolvex and prints the bench's report of each outcome.",
               "tolvex_cli"};
  app.formatter(std::make_shared<ToolFormatter>());
  app.footer(command_list());

  SessionOptions options;
  std::string view = "string";
  std::string script;
  bool keep_going = false;
  auto *port = app.add_option("--port", options.port, kPortHelp)
                   ->capture_default_str();
  app.add_option("--baud", options.baud, "line speed")
      ->check(CLI::IsMember(std::vector<std::uint32_t>(std::begin(tolvex::kTerminalBauds), std::end(tolvex::kTerminalBauds))))
      ->capture_default_str();
  app.add_option("--view", view, "report view")->check(CLI::IsMember({"string", "hex"}))->capture_default_str();
  auto *sim = app.add_flag("--sim", options.simulate, "run against an in-process simulated terminal instead of a port")
                  ->excludes(port);
  app.add_option("--sim-fault", options.sim_faults,
                 "a fault rule for the simulated terminal, as tolvex_sim --fault takes it (repeatable)")
      ->allow_extra_args(false)
      ->needs(sim);
  bool quiet = false;
  bool verbose = false;
  auto *quiet_flag = app.add_flag("-q,--quiet", quiet, "print only failed commands' reports and summaries");
  app.add_flag("-v,--verbose", verbose, "also trace every byte on the line (standard error)")->excludes(quiet_flag);
  app.add_flag("--json", options.json,
               "print one JSON object per command (the aging run: its summary) on standard output, nothing else");
  auto *script_opt = app.add_option("--script", script, "run the commands of FILE, one per line ('-' = stdin)");
  app.add_flag("--keep-going", keep_going, "in a script, go on after a failed command")->needs(script_opt);
  std::string junit;
  app.add_option("--junit", junit, "write a JUnit XML report of the script run to FILE")->needs(script_opt);
  app.set_version_flag("-V,--version", "tolvex_cli " TOLVEX_VERSION);
  auto *ports = app.add_subcommand("ports", "list the serial devices present and the COMn names that reach them");
  std::string trace;
  app.add_option("--trace", trace, "append every byte written to and read from the terminal to FILE, in hex");

  const CommandLine line = split_command_line(app, argc, argv);
  try {
    std::vector<std::string> reversed(line.options.rbegin(), line.options.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError &e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  for (const std::string &rule : options.sim_faults) {
    std::string error;
    if (!sim_fault_valid(rule, error)) {
      std::cerr << "tolvex_cli: --sim-fault " << rule << ": " << error << "\n";
      return kExitUsage;
    }
  }
  options.view_mode = view_mode_from_text(view);
  options.verbosity = quiet ? -1 : verbose ? 1 : 0;
  // The library reads this when it is first used, which is after this point.
#ifdef _WIN32
  // A console tool: the library's messages go to standard error, as on Linux, not to a box.
  tolvex_set_message_handler([](const char *text, void *) { std::fprintf(stderr, "%s\n", text); }, nullptr);
  if (!trace.empty()) ::_putenv_s("TOLVEX_TRACE", trace.c_str());
  if (ports->parsed()) return list_ports(std::cout, {});
#else
  if (!trace.empty()) ::setenv("TOLVEX_TRACE", trace.c_str(), 1);
  if (ports->parsed()) return list_ports(std::cout, tolvex::bench::device_root_from_environment());
#endif

  const std::vector<std::string> &words = line.words;
  if (!script.empty() && !words.empty()) {
    std::cerr << "tolvex_cli: give either a COMMAND or --script, not both\n";
    return kExitUsage;
  }

  if (!script.empty()) {
    std::ifstream file;
    std::istream *in = &std::cin;
    if (script != "-") {
      file.open(script);
      if (!file) {
        std::cerr << "tolvex_cli: cannot read script " << script << "\n";
        return kExitUsage;
      }
      in = &file;
    }
    Session session(options, std::cout, std::cerr);
    const bool whole = script != "-" || stdin_is_file();
    return run_script(session, *in, script == "-" ? "<stdin>" : script, keep_going, whole, junit);
  }

  if (words.empty()) {
#ifndef _WIN32
    if (::isatty(0) != 0) {
      Session session(options, std::cout, std::cerr);
      return run_interactive(session, std::cin, std::cout, std::cerr);
    }
#endif
    std::cerr << "tolvex_cli: no command given (tolvex_cli --help lists them)\n";
    return kExitUsage;
  }
  if (words.front() == "help") {
    if (words.size() == 1) {
      std::cout << app.help();
      return kExitOk;
    }
    return print_command_help(words[1], std::cout, std::cerr);
  }
  if (words.front() == "aging") {
    return run_aging(options, std::vector<std::string>(words.begin() + 1, words.end()), std::cout, std::cerr);
  }
  PreparedCall call;
  std::string error;
  if (!prepare_call(words, call, error)) {
    std::cerr << "tolvex_cli: " << error << "\n";
    return kExitUsage;
  }
  Session session(options, std::cout, std::cerr);
  return session.run(call);
}
