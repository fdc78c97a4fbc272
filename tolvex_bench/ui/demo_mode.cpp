#include "demo_mode.hpp"

#include <QComboBox>
#include <QPushButton>

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
  // Before any port is opened, so " COM 1" of the Setting page reaches it.
  impl_->sim = tolvex::sim::start_as_com_port(1, error);
  return impl_->sim != nullptr;
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
