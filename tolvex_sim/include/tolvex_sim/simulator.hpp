// The simulated terminal as a library: serves the terminal's protocol on a
// pseudo-terminal (or a real serial device) from a thread of its own.
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

struct Options {
  bool instant = true;          // answer as fast as possible (tests); false paces bytes and movements
  std::uint32_t seed = 1;       // seed of the fault plan's random choices
  std::string device;           // serve this serial device instead of creating a pseudo-terminal
  std::string link;             // also make a symlink with this path to the pseudo-terminal
  std::string trace_path;       // write a timestamped hex trace of both directions here ("-" = stderr)
  int exit_take_ms = 0;         // a card at the exit is taken: 0 at once, -1 only by take_card(), n after n ms

  int baud = 38400;             // line speed at start (9600, 19200, 38400 or 57600); "C26" changes it
  int stacker_cards[2] = {100, 100};  // cards in stacker 1 and 2 at start
  int stacker_capacity = 200;   // a stacker holding this many reports "full"
  int stacker_low = 10;         // at or below this many cards a stacker reports "warning"
  int capture_capacity = 100;   // the capture box is full at this count ("C34" then answers 0x2109)
  MechanicalTimes times;        // used only when instant is false

  // Called from the simulator's thread with every block of bytes on the line:
  // from_host true for bytes received, false for bytes sent.
  std::function<void(bool from_host, const std::uint8_t *bytes, std::size_t n)> on_bytes;
};

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
