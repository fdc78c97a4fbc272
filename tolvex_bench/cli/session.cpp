#include "session.hpp"

#include <tolvex/tolvex.h>

#include <algorithm>
#include <cstdio>

#include "completion_wait.hpp"
#include "hex.hpp"
#include "json.hpp"
#include "ms_ic.hpp"
#include "text.hpp"

#if TOLVEX_CLI_WITH_SIM
#include <tolvex_sim/simulator.hpp>
#else
// A build without the simulator never makes one; the session's pointer to it still
// needs a complete type to be destroyed.
namespace tolvex::sim {
class Simulator {};
}  // namespace tolvex::sim
#endif

namespace tolvex::cli {

// The step's surroundings on the command line: waits sleep on the library's completion
// notifications, reports go to the output stream, messages to the error stream.
class Session::Host final : public bench::StepHost {
 public:
  explicit Host(Session &session) : session_(session) {}

  bool wait(const std::function<bool()> &collected) override { return completion_.wait(collected, abandon_); }

  void message(std::wstring_view text) override { session_.err_ << bench::to_utf8(text) << "\n"; }

  void report(const std::wstring &text) override {
    if (session_.options_.json) {
      session_.last_report_ = bench::to_utf8(text);
      return;
    }
    if (!session_.reports_shown_) return;
    if (session_.options_.verbosity < 0 && session_.step_.state().result == 0) return;
    session_.out_ << bench::to_utf8(text) << "\n";
    session_.out_.flush();
  }

  int view_mode() override { return session_.options_.view_mode; }

  std::function<bool()> abandon_;

 private:
  Session &session_;
  bench::CompletionWait completion_;
};

Session::Session(SessionOptions options, std::ostream &out, std::ostream &err)
    : options_(std::move(options)), out_(out), err_(err), host_(std::make_unique<Host>(*this)), step_(*host_) {}

namespace {

// -v: every block on the line, on the error stream as it happens.
void TOLVEX_CALL trace_line(int direction, const std::uint8_t *bytes, std::uint32_t length, std::uint64_t, void *ctx) {
  const std::string hex = bench::to_utf8(bench::spaced_hex(bytes, length));
  std::ostream &err = *static_cast<std::ostream *>(ctx);
  err << (direction == TOLVEX_TRACE_WRITTEN ? "TX " : "RX ") << hex << "\n" << std::flush;
}

}  // namespace

Session::~Session() {
  if (options_.verbosity > 0) tolvex_set_trace_handler(nullptr, nullptr);
  if (port_open_) DisablePort();
#if TOLVEX_CLI_WITH_SIM
  if (simulator_) simulator_->stop();
#endif
}

void Session::set_abandon_check(std::function<bool()> check) { host_->abandon_ = std::move(check); }

bool Session::open_port() {
  if (port_open_) return true;
  std::string port = options_.port;
  if (options_.simulate) {
#if TOLVEX_CLI_WITH_SIM
    simulator_ = std::make_unique<sim::Simulator>(sim::in_process_options());
    std::string error;
    for (const std::string &rule : options_.sim_faults) {
      if (!simulator_->add_fault(rule, &error)) {
        err_ << "tolvex_cli: --sim-fault " << rule << ": " << error << "\n";
        simulator_.reset();
        return false;
      }
    }
    if (!simulator_->start(&error)) {
      err_ << "tolvex_cli: the simulated terminal did not start: " << error << "\n";
      simulator_.reset();
      return false;
    }
    port = simulator_->path();
#else
    err_ << "tolvex_cli: this build has no simulated terminal (--sim)\n";
    return false;
#endif
  }
  if (options_.verbosity > 0) tolvex_set_trace_handler(&trace_line, &err_);
  if (EnablePort(port.c_str(), 8, 0, 0, options_.baud, 0) == 0) {
    const char *why = tolvex_port_error();
    err_ << "tolvex_cli: cannot open " << port << ": " << (why && *why ? why : "unknown error") << "\n";
    return false;
  }
  port_open_ = true;
  port_name_ = port;
  return true;
}

bool sim_fault_valid(const std::string &rule, std::string &error) {
#if TOLVEX_CLI_WITH_SIM
  sim::Simulator unstarted;
  return unstarted.add_fault(rule, &error);
#else
  (void)rule;
  error = "this build has no simulated terminal (--sim)";
  return false;
#endif
}

namespace {

// What the core decodes of an IC card's answer, as the bench's IC group shows it: the
// answer to reset after a reset, the card's status word (the response's first two
// bytes) after an APDU.
void print_card_decoding(const bench::CommandState &state, std::ostream &out) {
  if (state.result != 0) return;
  const std::string_view code(state.code, 3);
  const std::size_t length = std::min<std::size_t>(state.length, state.response.size());
  if (code == "I21") {
    out << " ANSWER TO RESET:\n";
    for (const std::wstring &line : bench::answer_to_reset_lines(state.response.data(), length)) {
      out << "   " << bench::to_utf8(line) << "\n";
    }
  } else if (code == "I22" && length >= 2) {
    const std::uint8_t sw1 = state.response[0];
    const std::uint8_t sw2 = state.response[1];
    out << " CARD STATUS: " << bench::to_utf8(bench::status_word_hex(sw1, sw2)) << " "
        << bench::to_utf8(bench::status_word_text(sw1, sw2)) << "\n";
  }
}

}  // namespace

std::string outcome_json(const PreparedCall &call, const bench::CommandState &state, bool reported,
                         const std::string &report) {
  JsonObject o;
  o.add("command", call.command->name).add("code", call.code);
  if (!reported) {
    // Not started, or given up before an outcome: nothing came back.
    o.add("process_number", static_cast<int>(state.gb_prc_no)).add_null("result").add_null("status_word");
    o.add("data", "").add("report", "");
    return o.text();
  }
  o.add("process_number", static_cast<int>(state.response_prc_no)).add("result", state.result);
  o.add("result_text", bench::to_utf8(bench::result_message(state.result)));
  // The terminal's status word: 0 on success, its own error code when it refused.
  if (state.result == 0 || (state.result > TOLVEX_NEGATIVE && state.result <= 0xFFFF)) {
    char word[8];
    std::snprintf(word, sizeof word, "0x%04X", static_cast<unsigned>(state.result));
    o.add("status_word", word);
  } else {
    o.add_null("status_word");
  }
  const std::size_t length = std::min<std::size_t>(state.length, state.response.size());
  o.add("data", bench::plain_hex(state.response.data(), length));
  o.add("report", report);
  const std::string_view code(state.code, 3);
  if (state.result == 0 && code == "I21") {
    const bench::AnswerToReset atr = bench::decode_answer_to_reset(state.response.data(), length);
    JsonObject a;
    a.add("valid", atr.valid());
    if (atr.valid()) {
      a.add("ts", bench::plain_hex(&atr.ts, 1));
      std::string protocols = "[";
      for (std::size_t i = 0; i < atr.protocols.size(); ++i) {
        protocols += (i ? "," : "") + std::to_string(atr.protocols[i]);
      }
      a.add_json("protocols", protocols + "]");
      a.add("historical", bench::plain_hex(atr.historical.data(), atr.historical.size()));
    } else {
      a.add("problem", bench::to_utf8(atr.problem));
    }
    o.add_json("answer_to_reset", a.text());
  } else if (state.result == 0 && code == "I22" && length >= 2) {
    JsonObject sw;
    sw.add("word", bench::plain_hex(state.response.data(), 2))
        .add("text", bench::to_utf8(bench::status_word_text(state.response[0], state.response[1])));
    o.add_json("card_status", sw.text());
  }
  return o.text();
}

int Session::run(const PreparedCall &call) {
  const Command &command = *call.command;
  if (command.role == Role::Local) {
    command.invoke(call.c_args);
    if (options_.json) out_ << JsonObject().add("command", command.name).add("result", 0).text() << "\n" << std::flush;
    return kExitOk;
  }
  if (!open_port()) return kExitPort;

  last_report_.clear();
  const bench::StepResult outcome = step_.run(call.code, [&] { return command.invoke(call.c_args).process_number; });
  const bench::CommandState &state = step_.state();
  if (options_.json) {
    out_ << outcome_json(call, state, outcome == bench::StepResult::Reported, last_report_) << "\n" << std::flush;
  }
  switch (outcome) {
    case bench::StepResult::NotStarted:
      return kExitFailed;
    case bench::StepResult::NoOutcome:
      err_ << "tolvex_cli: the library reported no outcome for " << call.code << "\n";
      return kExitFailed;
    case bench::StepResult::Reported:
      break;
  }
  if (!options_.json && options_.verbosity >= 0) print_card_decoding(state, out_);
  out_.flush();
  if (state.result == TOLVEX_NO_ACK && !silence_hinted_) {
    // Said once: every later command on a silent line fails the same way.
    silence_hinted_ = true;
    err_ << "tolvex_cli: no answer from " << port_name_ << " at " << options_.baud
         << " baud: check the cable, the terminal's power, and that the terminal's own line speed is "
         << options_.baud << " (--baud sets this side's)\n";
  }
  return state.result == 0 ? kExitOk : kExitFailed;
}

}  // namespace tolvex::cli
