// tolvex_sim: a simulated card terminal on a pseudo-terminal or a serial device.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tolvex_sim/simulator.hpp"

namespace {

constexpr const char *kFaultHelp =
    "Fault rule TARGET:KIND[=VALUE][@PERCENT%|#N] (repeatable). TARGET: a command code (M31) or all. "
    "KIND: noack (no ACK, command not run), nak (frame refused with NAK), badbcc=N (reply sent with a wrong "
    "block check N times, default 1), late=MS (reply held back MS ms), split=N (reply in N pieces, 20 ms apart, "
    "default 2), noise=N (N noise bytes before the reply, default 3), acknoise=N (N noise bytes before the ACK, "
    "default 3), status=W (reply with status word W, e.g. 0x2004, command not run). @P% fires with probability "
    "P, #N only on the Nth matching frame, neither on every frame. Examples: M31:status=0x2203@5% "
    "C31:status=0x2004#3 all:nak C11:late=2500";

bool set_time(tolvex::sim::MechanicalTimes &t, const std::string &setting, std::string &error) {
  const auto eq = setting.find('=');
  if (eq == std::string::npos) {
    error = "--time wants NAME=MS, got " + setting;
    return false;
  }
  const std::string name = setting.substr(0, eq);
  int ms = 0;
  try {
    std::size_t used = 0;
    ms = std::stoi(setting.substr(eq + 1), &used);
    if (used != setting.size() - eq - 1 || ms < 0 || ms > 14000) throw std::invalid_argument("range");
  } catch (const std::exception &) {
    error = "--time " + setting + ": MS must be 0 to 14000";
    return false;
  }
  struct Entry {
    const char *name;
    int tolvex::sim::MechanicalTimes::*field;
  };
  static const Entry entries[] = {
      {"draw", &tolvex::sim::MechanicalTimes::draw},       {"move", &tolvex::sim::MechanicalTimes::move},
      {"eject", &tolvex::sim::MechanicalTimes::eject},     {"capture", &tolvex::sim::MechanicalTimes::capture},
      {"collect", &tolvex::sim::MechanicalTimes::collect}, {"ms", &tolvex::sim::MechanicalTimes::ms},
      {"ic", &tolvex::sim::MechanicalTimes::ic},           {"rf", &tolvex::sim::MechanicalTimes::rf},
      {"print", &tolvex::sim::MechanicalTimes::print},
  };
  for (const Entry &e : entries) {
    if (name == e.name) {
      t.*(e.field) = ms;
      return true;
    }
  }
  error = "--time: unknown movement '" + name + "' (draw, move, eject, capture, collect, ms, ic, rf, print)";
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{
      "tolvex_sim: a simulated self-service card terminal. It creates a pseudo-terminal, prints its path on "
      "standard output and answers the terminal's protocol on it until SIGINT or SIGTERM. SIGUSR1 takes a card "
      "waiting at the exit."};
  tolvex::sim::Options o;
  o.instant = false;
  std::vector<std::string> faults;
  std::vector<std::string> times;
  int exit_take = -2;
  bool trace = false;
  std::string trace_file;
  int cards1 = 100, cards2 = 100;

  app.add_option("--device", o.device, "Serve this serial device (e.g. /dev/ttyUSB1 on a null-modem cable) "
                                       "instead of creating a pseudo-terminal");
  app.add_option("--link", o.link, "Also make a symbolic link with this path to the pseudo-terminal "
                                   "(e.g. for TOLVEX_COM1); removed at exit");
  app.add_flag("--trace", trace, "Write every byte in each direction, timestamped (UTC), in hex to standard error");
  app.add_option("--trace-file", trace_file, "Write the trace to this file instead (appends)");
  app.add_flag("--instant", o.instant, "Answer as fast as possible: no byte pacing, no mechanical times");
  app.add_option("--seed", o.seed, "Seed of the fault plan's random choices and of the card serial numbers")
      ->capture_default_str();
  app.add_option("--fault", faults, kFaultHelp);
  app.add_option("--exit-take", exit_take,
                 "A card ejected to the exit is taken after MS ms; 0 at once, -1 only when the program gets "
                 "SIGUSR1 (until then the next draw answers 0x2006). Default 3000, or 0 with --instant");
  app.add_option("--baud", o.baud, "Line speed at start; \"C26\" changes it")
      ->check(CLI::IsMember({9600, 19200, 38400, 57600}))
      ->capture_default_str();
  app.add_option("--cards1", cards1, "Cards in stacker 1 at start")->check(CLI::Range(0, 100000))->capture_default_str();
  app.add_option("--cards2", cards2, "Cards in stacker 2 at start")->check(CLI::Range(0, 100000))->capture_default_str();
  app.add_option("--stacker-capacity", o.stacker_capacity, "Cards a stacker holds when full")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  app.add_option("--capture-capacity", o.capture_capacity, "Cards the capture box holds")
      ->check(CLI::Range(0, 100000))
      ->capture_default_str();
  app.add_option("--time", times,
                 "Mechanical time NAME=MS (repeatable); NAME one of draw (900), move (400), eject (600), "
                 "capture (900), collect (900), ms (700), ic (150), rf (40), print (1500)");
  app.set_version_flag("--version", "tolvex_sim " TOLVEX_VERSION);

  CLI11_PARSE(app, argc, argv);

  o.stacker_cards[0] = cards1;
  o.stacker_cards[1] = cards2;
  if (o.stacker_capacity < cards1 || o.stacker_capacity < cards2)
    o.stacker_capacity = std::max(cards1, cards2);
  o.exit_take_ms = exit_take != -2 ? exit_take : (o.instant ? 0 : 3000);
  if (o.exit_take_ms < -1) {
    std::cerr << "tolvex_sim: --exit-take must be -1 or more\n";
    return 2;
  }
  if (!trace_file.empty()) {
    o.trace_path = trace_file;
  } else if (trace) {
    o.trace_path = "-";
  }
  for (const std::string &t : times) {
    std::string err;
    if (!set_time(o.times, t, err)) {
      std::cerr << "tolvex_sim: " << err << "\n";
      return 2;
    }
  }

  // Signals are taken synchronously by this thread; every other thread inherits the mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  tolvex::sim::Simulator sim(o);
  for (const std::string &f : faults) {
    std::string err;
    if (!sim.add_fault(f, &err)) {
      std::cerr << "tolvex_sim: " << err << "\n";
      return 2;
    }
  }
  std::string err;
  if (!sim.start(&err)) {
    std::cerr << "tolvex_sim: " << err << "\n";
    return 1;
  }
  std::cout << sim.path() << std::endl;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (sig == SIGUSR1) {
      sim.take_card();  // the customer takes the card at the exit
      continue;
    }
    break;
  }
  sim.stop();
  std::cerr << "tolvex_sim: stopped\n";
  return 0;
}
