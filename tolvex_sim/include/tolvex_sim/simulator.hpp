// The simulated terminal as a library: serves the terminal's protocol on a
// pseudo-terminal (or a real serial device) from a thread of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tolvex::sim {

struct Options {
  bool instant = true;          // answer as fast as possible (tests); false paces bytes and movements
  std::uint32_t seed = 1;       // seed of the fault plan's random choices
  std::string device;           // serve this serial device instead of creating a pseudo-terminal
  std::string link;             // also make a symlink with this path to the pseudo-terminal
  std::string trace_path;       // write a timestamped hex trace of both directions here ("-" = stderr)
  int exit_take_ms = 0;         // a card at the exit is taken: 0 at once, -1 only by take_card(), n after n ms
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

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvex::sim
