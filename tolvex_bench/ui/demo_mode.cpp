#include "demo_mode.hpp"

#include <QComboBox>
#include <QPushButton>

#include <cstdlib>

#include "my_tab_ctrl.hpp"
#include "setting_page.hpp"
#include "tolvex_bench_dlg.hpp"

#if TOLVEX_BENCH_WITH_SIM
#include <tolvex_sim/simulator.hpp>
#endif

namespace tolvex::bench::ui {

struct DemoTerminal::Impl {
#if TOLVEX_BENCH_WITH_SIM
  std::unique_ptr<tolvex::sim::Simulator> sim;
#endif
};

DemoTerminal::DemoTerminal() : impl_(std::make_unique<Impl>()) {}
DemoTerminal::~DemoTerminal() = default;

bool DemoTerminal::start(std::string *error) {
#if TOLVEX_BENCH_WITH_SIM
  tolvex::sim::Options options = tolvex::sim::in_process_options();
  options.exit_take_ms = 0;
  impl_->sim = std::make_unique<tolvex::sim::Simulator>(options);
  if (!impl_->sim->start(error)) {
    impl_->sim.reset();
    return false;
  }
  // Set before any port is opened, so " COM 1" of the Setting page reaches it.
  ::setenv("TOLVEX_COM1", impl_->sim->path().c_str(), 1);
  return true;
#else
  if (error != nullptr) *error = "this build has no simulated terminal";
  return false;
#endif
}

std::string DemoTerminal::path() const {
#if TOLVEX_BENCH_WITH_SIM
  if (impl_->sim) return impl_->sim->path();
#endif
  return {};
}

void open_demo_port(CTolvexBenchDlg &dialog) {
  CSetting *setting = dialog.tab_ctrl()->setting_page();
  auto *port = setting->findChild<QComboBox *>(QStringLiteral("comboPort"));
  auto *open = setting->findChild<QPushButton *>(QStringLiteral("buttonPortOpen"));
  if (port == nullptr || open == nullptr) return;
  port->setCurrentIndex(0);
  open->click();
}

}  // namespace tolvex::bench::ui
