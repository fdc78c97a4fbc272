// tolvex_sim: a simulated card terminal on a pseudo-terminal, a serial device or TCP.
#include <CLI/CLI.hpp>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <csignal>
#endif

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stdin_words.hpp"
#include "tolvex/protocol.hpp"
#include "tolvex_sim/simulator.hpp"

namespace {

constexpr const char *kFaultHelp =
    "Fault rule TARGET:KIND[=VALUE][@PERCENT%|#N] (repeatable). TARGET: a command code (M31) or all. "
    "KIND: noack (no ACK, command not run), nak (frame refused with NAK), badbcc=N (reply sent with a wrong "
    "block check N times, default 1), late=MS (reply held back MS ms), split=N (reply in N pieces, 20 ms apart, "
    "default 2), noise=N (N noise bytes before the reply, default 3), acknoise=N (N noise bytes before the ACK, "
    "default 3), status=W (reply with status word W, e.g. 0x2004, command not run). Lasting states, set before "
    "the command runs and kept until cleared: jam (a card sticks in the transport; draws and moves answer "
    "0x2004), nocartridge=S (stacker S, 1 or 2, loses its cartridge), empty=S (stacker S reads empty), low=S "
    "(stacker S reads near-empty), clear (clears them all). @P% fires with probability P, #N only on the Nth "
    "matching frame, neither on every frame. Examples: M31:status=0x2203@5% C31:status=0x2004#3 all:nak "
    "C11:late=2500 C31:jam#3 C42:clear";

#ifndef _WIN32
// Real-time signals that set a lasting state: SIGRTMIN+1 and on, in this order.
constexpr tolvex::sim::Condition kSignalConditions[] = {
    tolvex::sim::Condition::Jam,           tolvex::sim::Condition::NoCartridge1,  tolvex::sim::Condition::NoCartridge2,
    tolvex::sim::Condition::Stacker1Empty, tolvex::sim::Condition::Stacker2Empty, tolvex::sim::Condition::Stacker1Low,
    tolvex::sim::Condition::Stacker2Low};
#else
// Ctrl+C, Ctrl+Break or the console closing: the program stops.
HANDLE g_stop_event = nullptr;
BOOL WINAPI on_console_event(DWORD) {
  SetEvent(g_stop_event);
  return TRUE;
}
#endif

// The words on standard input, read by a thread of their own; the end of input leaves
// the simulator running. The simulator is left alone once the program is stopping.
std::mutex g_words_mutex;
tolvex::sim::Simulator *g_words_sim = nullptr;

void read_words() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::lock_guard<std::mutex> lock(g_words_mutex);
    if (!g_words_sim) return;
    if (const std::string message = tolvex::sim::apply_word(*g_words_sim, line); !message.empty())
      std::cerr << "tolvex_sim: " << message << std::endl;
  }
}

bool set_media(tolvex::sim::CardMedia &m, const std::string &list, std::string &error) {
  m = {false, false, false};
  std::size_t pos = 0;
  while (pos <= list.size()) {
    const std::size_t comma = std::min(list.find(',', pos), list.size());
    const std::string item = list.substr(pos, comma - pos);
    if (item == "ms") {
      m.ms = true;
    } else if (item == "ic") {
      m.ic = true;
    } else if (item == "rf") {
      m.rf = true;
    } else if (!item.empty() || list.empty()) {
      error = "--card-media: '" + item + "' is none of ms, ic, rf";
      return false;
    }
    pos = comma + 1;
  }
  return true;
}

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
#ifdef _WIN32
  CLI::App app{
      std::string("tolvex_sim: a simulated self-service card terminal, served over raw TCP on --listen HOST:PORT "
                  "(one client at a time; it prints the address listened on as socket://HOST:PORT) until Ctrl+C. "
                  "\"C14\" answers the status list: the conditions that hold now, empty when all is well; "
                  "\"C15\" answers the error list: the last eight errors reported, cleared by \"C42\". ") +
      tolvex::sim::kWordsHelp};
#else
  CLI::App app{
      std::string("tolvex_sim: a simulated self-service card terminal. It creates a pseudo-terminal, prints its path on "
      "standard output and answers the terminal's protocol on it until SIGINT or SIGTERM. SIGUSR1 takes a card "
      "waiting at the exit. SIGUSR2 is an operator's service visit: it takes any card out of the transport (a "
      "stuck card, one left by a full capture box, one at the exit), empties the capture box and clears every "
      "lasting state. SIGRTMIN+1 to SIGRTMIN+7 set a lasting state: a jam, no cartridge in stacker 1, in "
      "stacker 2, stacker 1 empty, stacker 2 empty, stacker 1 near-empty, stacker 2 near-empty. \"C14\" "
      "answers the status list: the conditions that hold now (jam 0x2004, no cartridge 0x2113/0x2114/0x2115, "
      "empty 0x2105/0x2106/0x2104, near-empty 0x2107/0x2108, full 0x2111/0x2112, capture box full 0x2109), "
      "empty when all is well; \"C15\" answers the error list: the last eight errors reported, cleared by "
      "\"C42\". With --listen it serves the terminal over raw TCP instead, one client at a time, and prints "
      "the address listened on as socket://HOST:PORT. ") + tolvex::sim::kWordsHelp};
#endif
  tolvex::sim::Options o;
  o.instant = false;
  std::vector<std::string> faults;
  std::vector<std::string> times;
  int exit_take = -2;
  bool trace = false;
  std::string trace_file;
  int cards1 = 100, cards2 = 100;
  std::string media = "ms,ic,rf";

  app.add_option("--device", o.device, "(not on Windows) Serve this serial device (e.g. /dev/ttyUSB1 on a null-modem cable) "
                                       "instead of creating a pseudo-terminal");
  app.add_option("--link", o.link, "(not on Windows) Also make a symbolic link with this path to the pseudo-terminal "
                                   "(e.g. for TOLVEX_COM1); removed at exit");
  app.add_option("--listen", o.listen,
                 "Serve the terminal over raw TCP on HOST:PORT instead of a pseudo-terminal (HOST a name, an IPv4 "
                 "address or [IPv6]; PORT 0 picks a free one), for socket://HOST:PORT. One client at a time: a "
                 "second connection is closed while the first lasts; a client that goes away leaves the terminal "
                 "as it is. No authentication or encryption: listen on trusted networks only")
      ->excludes("--device");
  app.add_flag("--trace", trace, "Write every byte in each direction, timestamped (UTC), in hex to standard error");
  app.add_option("--trace-file", trace_file, "Write the trace to this file instead (appends)");
  app.add_flag("--instant", o.instant, "Answer as fast as possible: no byte pacing, no mechanical times");
  app.add_option("--seed", o.seed, "Seed of the fault plan's random choices and of the card serial numbers")
      ->capture_default_str();
  app.add_option("--fault", faults, kFaultHelp);
  app.add_option("--exit-take", exit_take,
                 "A card ejected to the exit is taken after MS ms; 0 at once, -1 only when the program gets "
                 "SIGUSR1 or the word take (until then the next draw answers 0x2006). Default 3000, or 0 with "
                 "--instant. With a capture time set (\"C23\", n x 10 s), a card left at the exit that long is "
                 "captured");
  app.add_option("--baud", o.baud, "Line speed at start; \"C26\" changes it")
      ->check(CLI::IsMember(std::vector<int>(std::begin(tolvex::kTerminalBauds), std::end(tolvex::kTerminalBauds))))
      ->capture_default_str();
  app.add_option("--cards1", cards1, "Cards in stacker 1 at start")->check(CLI::Range(0, 100000))->capture_default_str();
  app.add_option("--cards2", cards2, "Cards in stacker 2 at start")->check(CLI::Range(0, 100000))->capture_default_str();
  app.add_option("--stacker-capacity", o.stacker_capacity, "Cards a stacker holds when full")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  app.add_option("--capture-capacity", o.capture_capacity, "Cards the capture box holds")
      ->check(CLI::Range(0, 100000))
      ->capture_default_str();
  app.add_option("--capture-count", o.capture_count, "Cards already in the capture box at start")
      ->check(CLI::Range(0, 100000))
      ->capture_default_str();
  const std::map<std::string, int> places{{"ms", 1}, {"ic", 2}, {"rf", 3}, {"feeder", 4}, {"print", 5}};
  app.add_option("--card-inside", o.card_inside,
                 "Start with a card in the transport at POSITION: ms (magnetic head), ic (IC contacts), rf (RF "
                 "antenna), feeder or print")
      ->transform(CLI::CheckedTransformer(places, CLI::ignore_case))
      ->option_text("POSITION");
  app.add_option("--card-media", media,
                 "Media every card carries, a comma-separated subset of ms,ic,rf; a card without the stripe "
                 "reads as blank (0x2209) and refuses writes (0x2202), one without the chip gives no answer to "
                 "reset (0x2204), one without the RF part is not found in the field (0x2305)")
      ->capture_default_str();
  app.add_option("--time", times,
                 "Mechanical time NAME=MS (repeatable); NAME one of draw (900), move (400), eject (600), "
                 "capture (900), collect (900), ms (700), ic (150), rf (40), print (1500). Times under which a "
                 "command (e.g. \"M37\": draw + ms) would run past its reply window are refused");
  app.set_version_flag("--version", "tolvex_sim " TOLVEX_VERSION);

  CLI11_PARSE(app, argc, argv);

#ifdef _WIN32
  // Windows has no pseudo-terminal to create, and its serial ports are the library's side.
  for (const char *name : {"--device", "--link"}) {
    if (app.count(name) > 0) {
      std::cerr << "tolvex_sim: " << name << " is not available on Windows: the terminal is served over TCP "
                << "with --listen HOST:PORT (e.g. 127.0.0.1:7000)\n";
      return 2;
    }
  }
  if (o.listen.empty()) {
    std::cerr << "tolvex_sim: on Windows the terminal is served over TCP only: give --listen HOST:PORT "
              << "(e.g. 127.0.0.1:7000)\n";
    return 2;
  }
#endif

  o.stacker_cards[0] = cards1;
  o.stacker_cards[1] = cards2;
  for (int i = 0; i < 2; ++i) {
    if (o.stacker_cards[i] > o.stacker_capacity) {
      std::cerr << "tolvex_sim: --cards" << i + 1 << " " << o.stacker_cards[i] << " is more than the stacker "
                << "capacity of " << o.stacker_capacity << " (--stacker-capacity)\n";
      return 2;
    }
  }
  if (o.capture_count > o.capture_capacity) {
    std::cerr << "tolvex_sim: --capture-count " << o.capture_count << " is more than the capture box holds ("
              << o.capture_capacity << ", --capture-capacity)\n";
    return 2;
  }
  {
    std::string err;
    if (!set_media(o.card_media, media, err)) {
      std::cerr << "tolvex_sim: " << err << "\n";
      return 2;
    }
  }
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
  if (const std::string err = tolvex::sim::check_times(o.times); !err.empty()) {
    std::cerr << "tolvex_sim: --time: " << err << "\n";
    return 2;
  }

#ifndef _WIN32
  // Signals are taken synchronously by this thread; every other thread inherits the mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGUSR2);
  for (int i = 1; i <= 7; ++i) sigaddset(&set, SIGRTMIN + i);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
#else
  g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(on_console_event, TRUE);
#endif

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
  g_words_sim = &sim;
  std::thread(read_words).detach();
#ifdef _WIN32
  WaitForSingleObject(g_stop_event, INFINITE);
#else
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (sig == SIGUSR1) {
      sim.take_card();  // the customer takes the card at the exit
      continue;
    }
    if (sig == SIGUSR2) {
      sim.service();
      continue;
    }
    if (sig >= SIGRTMIN + 1 && sig <= SIGRTMIN + 7) {
      sim.set_condition(kSignalConditions[sig - SIGRTMIN - 1]);
      continue;
    }
    break;
  }
#endif
  {
    std::lock_guard<std::mutex> lock(g_words_mutex);
    g_words_sim = nullptr;
  }
  sim.stop();
  std::cerr << "tolvex_sim: stopped\n";
  return 0;
}
