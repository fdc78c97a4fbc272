// The one command step of the bench: start a command (code, export, process number),
// wait for its outcome, reconcile a negative answer to the terminal's own code, check
// the process number and report. How the wait is spent is the host's business: the
// desktop bench keeps its window live, the command-line tool sleeps.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <tolvex/tolvex.h>

#include "report.hpp"

namespace tolvex::bench {

// Command state shared by every starter, one instance for the program's life.
struct CommandState {
  char code[3] = {0, 0, 0};       // current-command code
  std::uint8_t gb_prc_no = 0;     // process number of the command in flight; 0 = not started
  std::array<std::uint8_t, TOLVEX_RESPONSE_MAX> response{};  // cleared before each wait
  std::uint32_t length = 0;       // valid bytes in the response
  std::uint8_t response_prc_no = 0;
  int result = 0;                 // 0 success; library or terminal code otherwise
};

// What the step needs from where it runs.
class StepHost {
 public:
  virtual ~StepHost() = default;
  // Returns once `collected()` returned true (true), or when the host gave up waiting
  // (false). `collected()` polls the library and must be called again after every
  // completion notification.
  virtual bool wait(const std::function<bool()> &collected) = 0;
  // A message the engineer must see ("Frame Error", "gb_prc_no Error").
  virtual void message(std::wstring_view text) = 0;
  // The report of a finished command, as the report builder made it.
  virtual void report(const std::wstring &text) = 0;
  // View mode for the report: 0 "String", any other value "HEX". Read once per wait.
  virtual int view_mode() { return 0; }
};

enum class StepResult {
  NotStarted,  // the export returned process number 0; nothing to wait for
  NoOutcome,   // the host gave up waiting; the state holds TOLVEX_STOPPED and no data
  Reported,    // the outcome is in the state and was reported
};

class CommandStep {
 public:
  using Starter = std::function<int()>;
  using Collector = std::function<int(std::uint8_t *, int *, std::uint8_t *, int *)>;

  explicit CommandStep(StepHost &host);

  // Writes `code` (three characters) as the current-command code, calls `start` and
  // keeps the process number. 0 shows `failure_text` (nothing when empty); when this
  // runs inside another wait, that command keeps its code and process number.
  StepResult run(std::string_view code, const Starter &start, std::wstring_view failure_text = L"Frame Error");

  // The wait-and-report step for the command whose code and process number are set.
  StepResult wait_and_report();

  CommandState &state() { return state_; }
  const CommandState &state() const { return state_; }

  // Waits running now; more than one when a handler run inside a wait started a command.
  int wait_depth() const { return depth_; }

  // Off: outcomes are still reconciled and checked but not reported, e.g. for a command
  // repeated many times over whose first report said it all.
  void set_reporting(bool on) { reporting_ = on; }
  // Reports the outcome in the state (the last one waited for).
  void report();

  // How outcomes are collected (chk_res unless replaced).
  void set_collector(Collector collector) { collect_ = std::move(collector); }

 private:
  bool collect();

  StepHost &host_;
  CommandState state_;
  ReportBuilder builder_;
  Collector collect_;
  int depth_ = 0;
  bool reporting_ = true;
  int view_mode_ = 0;  // read at the start of the last wait
};

}  // namespace tolvex::bench
