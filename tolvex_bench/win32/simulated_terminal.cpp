#include "simulated_terminal.hpp"

#include <cstdlib>

#include <tolvex_sim/simulator.hpp>

namespace tolvex::bench::win32 {

struct SimulatedTerminal::Impl {
  std::unique_ptr<tolvex::sim::Simulator> sim;
};

SimulatedTerminal::SimulatedTerminal() : impl_(std::make_unique<Impl>()) {}

SimulatedTerminal::~SimulatedTerminal() {
  if (impl_->sim) impl_->sim->stop();
}

bool SimulatedTerminal::start(std::string *error) {
  tolvex::sim::Options options = tolvex::sim::in_process_options();
  options.exit_take_ms = 0;
  impl_->sim = std::make_unique<tolvex::sim::Simulator>(options);
  if (!impl_->sim->start(error)) {
    impl_->sim.reset();
    return false;
  }
  // The library resolves COMn through TOLVEX_COMn first; both share the C runtime's
  // environment.
  if (_putenv_s("TOLVEX_COM1", impl_->sim->path().c_str()) != 0) {
    if (error != nullptr) *error = "cannot set TOLVEX_COM1";
    return false;
  }
  return true;
}

std::string SimulatedTerminal::path() const { return impl_->sim ? impl_->sim->path() : std::string(); }

}  // namespace tolvex::bench::win32
