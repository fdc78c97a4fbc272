// The simulated terminal as a library: serves the terminal's protocol on a
// pseudo-terminal (or a real serial device, or raw TCP) from a thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tolvex::sim {

// Mechanical times in milliseconds, used when the simulator is paced (instant = false).
struct MechanicalTimes {
  int draw = 900;     // a card from a stacker to a module
  int move = 400;     // between modules
  int eject = 600;    // to the exit (also drop)
  int capture = 900;  // into the capture box
  int collect = 900;  // back into a stacker
  int ms = 700;       // one pass under the magnetic head
  int ic = 150;       // contact unit: reset or one command
  int rf = 40;        // one RF operation (per block for sector and card-wide commands)
  int print = 1500;   // printing or erasing
};

// Which media a card carries; a card without one answers as a real card without it would.
struct CardMedia {
  bool ms = true;  // magnetic stripe
  bool ic = true;  // contact chip
  bool rf = true;  // contactless part (MIFARE Classic, Ultralight, SL2 ICS20)
};

// Lasting fault states of the terminal. Each stays until it is cleared (a "clear" fault
// rule, the program's SIGUSR2, or clear_conditions() / service()).
enum class Condition {
  Jam,            // a card is stuck in the transport: draws and moves answer 0x2004
  NoCartridge1,   // the cartridge of stacker 1 is out
  NoCartridge2,
  Stacker1Empty,  // the stacker's sensor reads empty, whatever it holds
  Stacker2Empty,
  Stacker1Low,    // the stacker's sensor reads near-empty
  Stacker2Low,
};

// The terminal as it starts: what the device model itself is built from.
struct TerminalOptions {
  bool instant = true;          // answer as fast as possible (tests); false paces bytes and movements
  std::uint32_t seed = 1;       // seed of the fault plan's random choices and of the card serials
  int exit_take_ms = 0;         // a card at the exit is taken: 0 at once, -1 only by take_card(), n after n ms

  int baud = 38400;             // line speed at start (9600, 19200, 38400 or 57600); "C26" changes it
  int stacker_cards[2] = {100, 100};  // cards in stacker 1 and 2 at start
  int stacker_capacity = 200;   // a stacker holding this many reports "full"
  int stacker_low = 10;         // at or below this many cards a stacker reports "warning"
  int capture_capacity = 100;   // the capture box is full at this count ("C34" then answers 0x2109)
  MechanicalTimes times;        // used only when instant is false
  int capture_count = 0;        // cards already in the capture box at start
  int card_inside = 0;          // a card in the transport at start: 0 none, 1 magnetic head, 2 IC
                                // contacts, 3 RF antenna, 4 feeder, 5 printer (the "C32" codes)
  CardMedia card_media;         // what every card drawn carries
};

// The terminal and the line it is served on.
struct Options : TerminalOptions {
  std::string device;           // serve this serial device instead of creating a pseudo-terminal
  std::string link;             // also make a symlink with this path to the pseudo-terminal
  std::string listen;           // serve raw TCP on "HOST:PORT" instead (PORT 0: a free one), one
                                // client at a time; path() is then "socket://HOST:PORT"
  std::string trace_path;       // write a timestamped hex trace of both directions here ("-" = stderr)

  // Called from the simulator's thread with every block of bytes on the line:
  // from_host true for bytes received, false for bytes sent.
  std::function<void(bool from_host, const std::uint8_t *bytes, std::size_t n)> on_bytes;
};

// Options for a terminal simulated inside the program that talks to it: instant replies,
// and on Windows the loopback (it has no pseudo-terminals), where path() then gives
// socket://127.0.0.1:PORT.
Options in_process_options();

class Simulator;

// A terminal simulated inside the program (in_process_options), started and reached as
// "COM<n>": the library's name for that port is pointed at it through TOLVEX_COM<n>, so
// set before any port is opened. Null, with *error set, when it cannot start.
std::unique_ptr<Simulator> start_as_com_port(unsigned n, std::string *error = nullptr);

// Checks that no command's mechanical time (several movements may add up in one
// command) runs past its reply window: returns an empty text when all fit, else a
// message naming the first command that does not.
std::string check_times(const MechanicalTimes &times);

class Simulator {
 public:
  explicit Simulator(Options options = {});
  ~Simulator();  // stops and cleans up
  Simulator(const Simulator &) = delete;
  Simulator &operator=(const Simulator &) = delete;

  // Creates the pseudo-terminal (or opens the device) and starts serving.
  // Returns false and sets *error when that fails.
  bool start(std::string *error = nullptr);
  void stop();

  // Path the library opens: the pseudo-terminal's slave side, or the device.
  std::string path() const;

  // Adds one fault rule in the command-line syntax of `tolvex_sim --fault`;
  // returns false and sets *error when the rule cannot be parsed.
  bool add_fault(const std::string &rule, std::string *error = nullptr);
  void clear_faults();

  // Takes the card waiting at the exit, as a customer would.
  void take_card();

  // Lasting fault states (see Condition).
  void set_condition(Condition condition, bool on = true);
  void clear_conditions();       // every condition off; cartridges back in
  // An operator's service visit: removes any card from the transport (the exit
  // included), empties the capture box and clears every condition. Also SIGUSR2.
  void service();
  void clear_transport();        // removes any card from the transport and frees a jam
  void empty_capture_box();

  // Test and bench helpers (safe from any thread).
  void set_stacker(int stacker, int cards, bool cartridge = true);  // stacker 1 or 2
  void set_capture_count(int count);
  bool card_at_exit() const;
  bool card_inside() const;      // anywhere in the terminal, the exit included
  int capture_count() const;
  int stacker_cards(int stacker) const;  // stacker 1 or 2
  int line_baud() const;         // the terminal's current line speed
  std::uint64_t frames_received() const;  // valid command frames, resends included

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvex::sim
