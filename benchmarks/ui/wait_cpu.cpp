// How much of a core the bench's user-interface thread spends while it waits for a
// slow answer: "From ST" against a simulated terminal that holds its reply back 3 s.
// Prints the figures; the target is under 1 % of one core.
#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <tolvex/tolvex.h>
#include <tolvex_sim/simulator.hpp>

#include "printed_messages.hpp"
#include "run_figures.hpp"
#include "tolvex_bench_dlg.hpp"

int main(int argc, char **argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  constexpr int kLateMs = 3000;
  constexpr int kRounds = 3;

  tolvex::sim::Options options;
  options.instant = true;
  tolvex::sim::Simulator sim(options);
  std::string error;
  if (!sim.start(&error) || !sim.add_fault("C31:late=" + std::to_string(kLateMs), &error)) {
    std::fprintf(stderr, "simulated terminal: %s\n", error.c_str());
    return 1;
  }
  ::setenv("TOLVEX_COM1", sim.path().c_str(), 1);
  if (EnablePort("COM1", 8, 0, 0, 38400, 0) == 0) {
    std::fprintf(stderr, "EnablePort: %s\n", tolvex_port_error());
    return 1;
  }

  QApplication app(argc, argv);
  tolvex::benchmarks::PrintedMessages messages;
  tolvex::bench::ui::set_message_service(&messages);
  int status = 0;
  {
    CTolvexBenchDlg dialog;
    auto *from_st = dialog.findChild<QPushButton *>(QStringLiteral("buttonFromSt"));
    auto *eject = dialog.findChild<QPushButton *>(QStringLiteral("buttonEject"));
    std::printf("bench_ui_wait: \"From ST\" with the reply held back %d ms, %d rounds\n", kLateMs, kRounds);
    double worst = 0.0;
    for (int round = 1; round <= kRounds; ++round) {
      const double wall0 = tolvex::benchmarks::clock_seconds(CLOCK_MONOTONIC);
      const double cpu0 = tolvex::benchmarks::clock_seconds(CLOCK_THREAD_CPUTIME_ID);
      from_st->click();
      const double cpu = tolvex::benchmarks::clock_seconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
      const double wall = tolvex::benchmarks::clock_seconds(CLOCK_MONOTONIC) - wall0;
      const double share = 100.0 * cpu / wall;
      worst = std::max(worst, share);
      std::printf("  round %d: wait %.0f ms, UI thread CPU %.3f ms = %.4f %% of a core, result %d\n", round,
                  wall * 1000.0, cpu * 1000.0, share, dialog.runner().state().result);
      if (dialog.runner().state().result != 0 || wall * 1000.0 < kLateMs) status = 1;
      eject->click();
    }
    std::printf("bench_ui_wait: worst %.4f %% of a core while waiting (target < 1 %%): %s\n", worst,
                worst < 1.0 ? "met" : "NOT met");
    if (worst >= 1.0) status = 1;
  }
  tolvex::bench::ui::set_message_service(nullptr);
  DisablePort();
  return status;
}
