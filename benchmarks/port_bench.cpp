// The library against a terminal on a serial port, the same source on Linux and on
// Windows: CPU time and latency per quick command, and the CPU a command costs while it
// waits 3 s for its reply. Run by scripts/run-windows-benchmark beside tolvex_sim.
//   tolvex_port_bench PORT quick COUNT   (the simulator answering at once)
//   tolvex_port_bench PORT wait [N]      (the simulator holding "C33" back 3 s; N such
//                                         waits, 5 by default, as process CPU time is
//                                         counted in ticks of 10 ms or more)
#include <tolvex/tolvex.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command_run.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using tolvex::benchmarks::process_cpu_seconds;
using tolvex::benchmarks::run_command;

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: tolvex_port_bench PORT quick COUNT | PORT wait\n");
    return 2;
  }
  tolvex_set_message_handler([](const char *text, void *) { std::fprintf(stderr, "%s\n", text); }, nullptr);
  tolvex::benchmarks::wake_on_completion();
  if (EnablePort(argv[1], 8, 0, 0, 38400, 0) != 1) {
    std::fprintf(stderr, "%s: %s\n", argv[1], tolvex_port_error());
    return 1;
  }
  int status = 0;
  if (std::strcmp(argv[2], "quick") == 0) {
    const int count = argc > 3 ? std::atoi(argv[3]) : 500;
    for (int i = 0; i < 20; ++i) run_command([] { return model(); });  // warm-up
    std::vector<double> latencies;
    const double cpu0 = process_cpu_seconds();
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < count; ++i) {
      const Clock::time_point at = Clock::now();
      if (run_command([] { return model(); }) != TOLVEX_OK) status = 1;
      latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - at).count());
    }
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = process_cpu_seconds() - cpu0;
    std::sort(latencies.begin(), latencies.end());
    std::printf("quick commands: %d, cpu per command %.1f us, p50 %.1f us, p99 %.1f us, wall %.2f s\n", count,
                cpu / count * 1e6, latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100], wall);
  } else {
    const int waits = argc > 3 ? std::atoi(argv[3]) : 5;
    const double cpu0 = process_cpu_seconds();
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < waits; ++i) {
      // No card is in the transport: the terminal's refusal comes after the wait.
      const int result = run_command([] { return card_eject(); });
      if (result != TOLVEX_OK && result != TOLVEX_NEGATIVE) status = 1;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = process_cpu_seconds() - cpu0;
    std::printf("3 s waits: %d, wall %.2f s, cpu %.2f ms per wait, %.4f%% of a core\n", waits, wall,
                cpu * 1e3 / waits, cpu / wall * 100);
  }
  DisablePort();
  return status;
}
