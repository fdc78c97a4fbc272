// Demo mode: a simulated terminal inside the program, reached as "COM1".
#pragma once

#include <memory>
#include <string>

class CTolvexBenchDlg;

namespace tolvex::bench::ui {

class DemoTerminal {
 public:
  DemoTerminal();
  ~DemoTerminal();
  DemoTerminal(const DemoTerminal &) = delete;
  DemoTerminal &operator=(const DemoTerminal &) = delete;

  // Starts the simulated terminal and points TOLVEX_COM1 at it. False (with *error set)
  // when it cannot start or the program was built without it.
  bool start(std::string *error);
  std::string path() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Opens " COM 1" through the Setting page's "Port Open", the step an engineer takes
// first, so that the simulated terminal answers the first command. A port that does not
// open is reported as "Port Open" reports it.
void open_demo_port(CTolvexBenchDlg &dialog);

}  // namespace tolvex::bench::ui
