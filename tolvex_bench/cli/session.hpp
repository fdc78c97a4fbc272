// Runs checked calls against the library: opens the port (or a simulated terminal)
// when the first terminal command needs it, waits for each outcome and prints the
// bench's report of it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "command_step.hpp"
#include "invocation.hpp"

namespace tolvex::sim {
class Simulator;
}

namespace tolvex::cli {

struct SessionOptions {
  std::string port = "COM1";
  std::uint32_t baud = 38400;
  bool simulate = false;
  std::vector<std::string> sim_faults;  // fault rules for the simulated terminal
  int view_mode = 0;
  bool json = false;  // one JSON object per command instead of the report
  int verbosity = 0;  // -1 (-q) only failed commands' reports; 1 (-v) also the line trace
};

// True when the simulated terminal takes `rule`; false with the reason otherwise.
bool sim_fault_valid(const std::string &rule, std::string &error);

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a command failed or an expectation was missed
inline constexpr int kExitUsage = 2;   // bad command line; nothing was sent
inline constexpr int kExitPort = 3;    // the port could not be opened

class Session {
 public:
  Session(SessionOptions options, std::ostream &out, std::ostream &err);
  ~Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  void set_view_mode(int mode) { options_.view_mode = mode; }

  // Off: reports are built but not printed (the aging run's progress line on a terminal).
  void show_reports(bool on) { reports_shown_ = on; }

  // Runs one call and prints its report, then what the core decodes of an IC card's
  // answer: kExitOk when the result is 0, kExitPort when the port did not open, else
  // kExitFailed.
  int run(const PreparedCall &call);

  // Opens the port (or starts the simulated terminal) unless it is open; false with a
  // message on the error stream when that fails.
  bool open_port();

  // The command step that prints reports to the output stream and messages to the
  // error stream.
  bench::CommandStep &step() { return step_; }

  // Polled while a command is waited for; once it returns true the command in flight
  // is abandoned (exe_stop) and the wait ends with the library's outcome.
  void set_abandon_check(std::function<bool()> check);

  // The simulated terminal of --sim, once the port is open; null otherwise.
  sim::Simulator *simulator() { return simulator_.get(); }

 private:
  class Host;

  SessionOptions options_;
  std::ostream &out_;
  std::ostream &err_;
  std::unique_ptr<sim::Simulator> simulator_;
  bool port_open_ = false;
  std::string port_name_;       // what was opened, for the hint on a silent port
  bool silence_hinted_ = false;
  std::unique_ptr<Host> host_;
  bench::CommandStep step_;
  std::string last_report_;  // the report of the last command, kept for --json
  bool reports_shown_ = true;
};

// The JSON object of one finished command: its name and code, process number, result
// code and its text, the terminal's status word, the data as hex, the report, and what
// the core decodes of an IC card's answer.
std::string outcome_json(const PreparedCall &call, const bench::CommandState &state, bool reported,
                         const std::string &report);

}  // namespace tolvex::cli
