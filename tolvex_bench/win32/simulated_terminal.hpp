// --simulate: the simulated terminal inside the program, reached as COM1.
#pragma once

#include <memory>
#include <string>

namespace tolvex::bench::win32 {

class SimulatedTerminal {
 public:
  SimulatedTerminal();
  ~SimulatedTerminal();
  SimulatedTerminal(const SimulatedTerminal &) = delete;
  SimulatedTerminal &operator=(const SimulatedTerminal &) = delete;

  // Starts it on the loopback and maps COM1 to it (TOLVEX_COM1), before any port opens.
  bool start(std::string *error);
  std::string path() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvex::bench::win32
