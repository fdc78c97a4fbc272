#include "session.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>

#include <tolvex/tolvex.h>

#include "text.hpp"

#if TOLVEX_CLI_WITH_SIM
#include <tolvex_sim/simulator.hpp>
#endif

namespace tolvex::cli {

namespace {

// A frame is sent up to three times, each send with a reply window of up to 15 s, and
// writes are bounded too; past this the library has lost the command and the tool asks
// it to stop.
constexpr auto kOutcomeWait = std::chrono::seconds(50);
constexpr auto kStopWait = std::chrono::seconds(5);

// Completion notifications of the library. Lives as long as the process, so a late
// notification after a session gave up never reaches a destroyed object.
struct Completions {
  std::mutex mutex;
  std::condition_variable done;
  std::uint64_t count = 0;
};

Completions &completions() {
  static Completions c;
  return c;
}

void on_completion(std::uint8_t /*prc_no*/, void * /*ctx*/) {
  Completions &c = completions();
  {
    std::lock_guard<std::mutex> lock(c.mutex);
    ++c.count;
  }
  c.done.notify_all();
}

}  // namespace

Session::Session(SessionOptions options, std::ostream &out, std::ostream &err)
    : options_(std::move(options)), out_(out), err_(err), response_(TOLVEX_RESPONSE_MAX, 0) {
  tolvex_set_completion_handler(&on_completion, nullptr);
}

Session::~Session() {
  tolvex_set_completion_handler(nullptr, nullptr);
  if (port_open_) DisablePort();
#if TOLVEX_CLI_WITH_SIM
  if (simulator_) simulator_->stop();
#endif
}

bool Session::open_port() {
  if (port_open_) return true;
  std::string port = options_.port;
  if (options_.simulate) {
#if TOLVEX_CLI_WITH_SIM
    sim::Options sim_options;
    sim_options.instant = true;
    simulator_ = std::make_unique<sim::Simulator>(sim_options);
    std::string error;
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
  if (EnablePort(port.c_str(), 8, 0, 0, options_.baud, 0) == 0) {
    const char *why = tolvex_port_error();
    err_ << "tolvex_cli: cannot open " << port << ": " << (why && *why ? why : "unknown error") << "\n";
    return false;
  }
  port_open_ = true;
  return true;
}

int Session::run(const PreparedCall &call) {
  const Command &command = *call.command;
  if (command.role == Role::Local) {
    command.invoke(call.c_args);
    return kExitOk;
  }
  if (!open_port()) return kExitFailed;

  Completions &c = completions();
  std::uint64_t before;
  {
    std::lock_guard<std::mutex> lock(c.mutex);
    before = c.count;
  }
  const CallResult started = command.invoke(call.c_args);
  const int prc_no = started.process_number;
  if (prc_no == 0) {
    err_ << "Frame Error\n";
    return kExitFailed;
  }

  // Wait for the library's completion notification, then collect the outcome.
  std::fill(response_.begin(), response_.end(), 0);
  int length = 0;
  std::uint8_t response_prc = 0;
  int result = 0;
  {
    std::unique_lock<std::mutex> lock(c.mutex);
    auto finished = [&] { return c.count != before; };
    if (!c.done.wait_for(lock, kOutcomeWait, finished)) {
      lock.unlock();
      exe_stop();
      lock.lock();
      if (!c.done.wait_for(lock, kStopWait, finished)) {
        err_ << "tolvex_cli: the library reported no outcome for " << call.code << "\n";
        return kExitFailed;
      }
    }
  }
  if (chk_res(response_.data(), &length, &response_prc, &result) == 0) {
    err_ << "tolvex_cli: the outcome of " << call.code << " could not be collected\n";
    return kExitFailed;
  }

  // A negative answer carries the terminal's own error code, high byte first.
  if (result == TOLVEX_NEGATIVE && length >= 2) result = response_[0] * 256 + response_[1];
  if (response_prc != static_cast<std::uint8_t>(prc_no)) err_ << "gb_prc_no Error\n";

  bench::Outcome outcome;
  std::memcpy(outcome.code, call.code.data(), call.code.size() < 3 ? call.code.size() : 3);
  outcome.result = result;
  outcome.length = length < 0 ? 0u : static_cast<std::uint32_t>(length);
  outcome.response = response_.data();
  outcome.capacity = response_.size();
  outcome.view_mode = options_.view_mode;
  out_ << bench::to_utf8(report_.build(outcome)) << "\n";
  out_.flush();
  return result == 0 ? kExitOk : kExitFailed;
}

}  // namespace tolvex::cli
