// Runs script steps on a session: commands, view switches, the expectations that check
// the command before them, and the sections of "# ==" headings; keeps what a JUnit
// report needs.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "invocation.hpp"
#include "session.hpp"

namespace tolvex::cli {

// True when the outcome meets the expectation; else false with what came back.
bool expectation_met(const Expectation &expect, int result, const std::uint8_t *data, std::size_t length,
                     std::string &got);

// "ok", "0x2005", "data 0101", "data-prefix 01".
std::string expectation_text(const Expectation &expect);

// One test case of the report: a command with its expectations, or a whole section.
struct ScriptCase {
  std::string name;
  std::vector<std::string> failures;
  bool run = false;  // false: skipped, the run had stopped before it
  std::chrono::duration<double> time{0};
};

class ScriptRunner {
 public:
  ScriptRunner(Session &session, std::string name, bool keep_going, std::ostream &err);

  // Runs one step; false once the run has stopped (a failure without --keep-going, or a
  // port that did not open). Later steps are only counted as skipped.
  bool step(const ScriptStep &step);

  // Settles the last command; the exit status of the run.
  int finish();

  const std::vector<ScriptCase> &cases() const { return cases_; }

 private:
  void settle();
  ScriptCase &current_case(const ScriptStep &step);

  Session &session_;
  std::string name_;
  bool keep_going_;
  std::ostream &err_;
  int status_ = kExitOk;
  bool stopped_ = false;
  bool sections_ = false;  // a heading was seen: cases are sections
  std::vector<ScriptCase> cases_;
  // The command waiting for its expectations.
  bool pending_ = false;
  int pending_status_ = kExitOk;
  int pending_line_ = 0;
  std::string pending_name_;
  bool pending_expected_ = false;
  bool pending_missed_ = false;
  std::size_t pending_case_ = 0;
};

// Writes the JUnit XML report of a script run: one test suite, one test case per entry.
void write_junit(std::ostream &out, const std::string &suite, const std::vector<ScriptCase> &cases);

// Text safe inside XML character data and attribute values.
std::string xml_escape(std::string_view text);

}  // namespace tolvex::cli
