// The library over socket:// on loopback beside the pseudo-terminal, in one run: CPU
// time of this process per quick command ("C11") and its latency, each path against a
// tolvex_sim program of its own answering at once (the simulator's CPU is not counted).
//   tolvex_net_bench TOLVEX_SIM [COUNT]
// Targets: socket:// at most 1.5 times the CPU and 1.3 times the p50 of the pty.
#include <tolvex/tolvex.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_run.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using tolvex::benchmarks::process_cpu_seconds;
using tolvex::benchmarks::run_command;

int run_model() { return run_command([] { return model(); }); }

// tolvex_sim with the arguments; the last line it prints of the `lines` first.
struct Simulator {
  pid_t pid = -1;
  std::string port;

  Simulator(const char *program, std::vector<std::string> args, int lines) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      std::vector<char *> argv{const_cast<char *>(program)};
      for (std::string &a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program, argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string text;
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    while (std::count(text.begin(), text.end(), '\n') < lines && ::poll(&p, 1, 5000) == 1 && ::read(fds[0], &c, 1) == 1) {
      text += c;
    }
    ::close(fds[0]);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    port = text.substr(text.rfind('\n') + 1);
  }
  ~Simulator() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

struct Figures {
  double cpu_us = 0;
  double p50_us = 0;
  double p99_us = 0;
  bool ok = false;
};

Figures measure(const std::string &port, int count) {
  Figures f;
  if (EnablePort(port.c_str(), 8, 0, 0, 38400, 0) != 1) {
    std::fprintf(stderr, "%s: %s\n", port.c_str(), tolvex_port_error());
    return f;
  }
  for (int i = 0; i < 50; ++i) run_model();  // warm-up
  std::vector<double> latencies;
  f.ok = true;
  const double cpu0 = process_cpu_seconds();
  for (int i = 0; i < count; ++i) {
    const Clock::time_point at = Clock::now();
    if (run_model() != TOLVEX_OK) f.ok = false;
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - at).count());
  }
  f.cpu_us = (process_cpu_seconds() - cpu0) / count * 1e6;
  std::sort(latencies.begin(), latencies.end());
  f.p50_us = latencies[latencies.size() / 2];
  f.p99_us = latencies[latencies.size() * 99 / 100];
  DisablePort();
  return f;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tolvex_net_bench TOLVEX_SIM [COUNT]\n");
    return 2;
  }
  const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
  tolvex_set_message_handler([](const char *text, void *) { std::fprintf(stderr, "%s\n", text); }, nullptr);
  tolvex::benchmarks::wake_on_completion();

  Simulator pty(argv[1], {"--instant"}, 1);
  Simulator tcp(argv[1], {"--instant", "--listen", "127.0.0.1:0"}, 1);
  if (pty.port.empty() || tcp.port.rfind("socket://", 0) != 0) {
    std::fprintf(stderr, "tolvex_net_bench: the simulators did not start\n");
    return 1;
  }
  // Alternating rounds, so a change in the machine's load meets both paths alike.
  const int rounds = 4;
  std::vector<Figures> pty_rounds, tcp_rounds;
  for (int r = 0; r < rounds; ++r) {
    pty_rounds.push_back(measure(pty.port, count / rounds));
    tcp_rounds.push_back(measure(tcp.port, count / rounds));
  }
  const auto median = [](std::vector<Figures> v, double Figures::*field) {
    std::sort(v.begin(), v.end(), [&](const Figures &x, const Figures &y) { return x.*field < y.*field; });
    return (v[v.size() / 2 - 1].*field + v[v.size() / 2].*field) / 2;
  };
  bool ok = true;
  for (const Figures &f : pty_rounds) ok = ok && f.ok;
  for (const Figures &f : tcp_rounds) ok = ok && f.ok;
  const double pty_cpu = median(pty_rounds, &Figures::cpu_us), tcp_cpu = median(tcp_rounds, &Figures::cpu_us);
  const double pty_p50 = median(pty_rounds, &Figures::p50_us), tcp_p50 = median(tcp_rounds, &Figures::p50_us);
  const double pty_p99 = median(pty_rounds, &Figures::p99_us), tcp_p99 = median(tcp_rounds, &Figures::p99_us);
  std::printf("quick commands over the network: %d per path in %d alternating rounds (medians of the rounds)\n",
              count / rounds * rounds, rounds);
  std::printf("  pty        cpu per command %7.1f us, p50 %7.1f us, p99 %7.1f us\n", pty_cpu, pty_p50, pty_p99);
  std::printf("  socket://  cpu per command %7.1f us, p50 %7.1f us, p99 %7.1f us\n", tcp_cpu, tcp_p50, tcp_p99);
  std::printf("  socket:// / pty: cpu %.2fx (target <= 1.5x), p50 %.2fx (target <= 1.3x)%s\n", tcp_cpu / pty_cpu,
              tcp_p50 / pty_p50, ok ? "" : "  (some commands failed)");
  return ok ? 0 : 1;
}
