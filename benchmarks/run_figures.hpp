// What the aging benchmarks share: the run's length from the command line, a simulated
// terminal stocked for it, and the figures they print (the calling thread's CPU time,
// the process's resident memory, the cost of the first and the last stretch of a run).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

#include <tolvex/tolvex.h>
#include <tolvex_sim/simulator.hpp>

#include <unistd.h>

namespace tolvex::benchmarks {

// Cycles to run: the first argument, else `fallback`; 0 after a usage line when the
// argument is no positive number.
inline int cycles_argument(int argc, char **argv, int fallback) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : fallback;
  if (cycles <= 0) std::fprintf(stderr, "usage: %s [cycles]\n", argv[0]);
  return cycles > 0 ? cycles : 0;
}

// The instantly answering simulated terminal with a card in stacker 1 for every cycle
// (each draw takes a fresh one), started; null after saying why when it did not start.
inline std::unique_ptr<sim::Simulator> stocked_simulator(int cycles) {
  sim::Options options;
  options.instant = true;
  options.stacker_cards[0] = cycles;
  options.stacker_capacity = cycles + 1;
  auto terminal = std::make_unique<sim::Simulator>(options);
  std::string error;
  if (!terminal->start(&error)) {
    std::fprintf(stderr, "simulated terminal: %s\n", error.c_str());
    return nullptr;
  }
  return terminal;
}

// Opens the library's port to `terminal`; false after saying why.
inline bool open_port(const sim::Simulator &terminal) {
  if (EnablePort(terminal.path().c_str(), 8, 0, 0, 38400, 0) != 0) return true;
  std::fprintf(stderr, "EnablePort: %s\n", tolvex_port_error());
  return false;
}

inline double clock_seconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

inline double thread_cpu_seconds() { return clock_seconds(CLOCK_THREAD_CPUTIME_ID); }

// Resident memory of this process in MB, from /proc/self/statm.
inline double resident_mb() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Told the number of cycles done as a run goes; keeps the thread's CPU time and the wall
// time over the first and the last `stretch` cycles and the memory after each.
class RunSampler {
 public:
  RunSampler(std::int64_t cycles, std::int64_t stretch) : cycles_(cycles), stretch_(stretch < cycles ? stretch : cycles) {}

  void done(std::int64_t n) {
    if (n == 0) mark(first_);
    if (n == stretch_) {
      close(first_);
      rss_first_ = resident_mb();
    }
    if (n == cycles_ - stretch_) mark(last_);
    if (n == cycles_) {
      close(last_);
      rss_last_ = resident_mb();
    }
  }

  // Prints the figures against the targets; false when one is missed.
  bool print(const char *what) const {
    const double first = first_.cpu * 1000.0 / static_cast<double>(stretch_);
    const double last = last_.cpu * 1000.0 / static_cast<double>(stretch_);
    const double ratio = first > 0 ? last / first : 0.0;
    const double growth = rss_last_ - rss_first_;
    std::printf("%s: %lld cycles, pause 0, instant terminal\n", what, static_cast<long long>(cycles_));
    std::printf("  first %lld cycles: own time %7.3f ms/cycle, wall %7.3f ms/cycle\n", static_cast<long long>(stretch_),
                first, first_.wall * 1000.0 / static_cast<double>(stretch_));
    std::printf("  last  %lld cycles: own time %7.3f ms/cycle, wall %7.3f ms/cycle\n", static_cast<long long>(stretch_),
                last, last_.wall * 1000.0 / static_cast<double>(stretch_));
    std::printf("  last/first %.2f (target <= 1.2)\n", ratio);
    std::printf("  resident memory %.1f MB after %lld cycles, %.1f MB after %lld: growth %.1f MB (target < 10 MB)\n",
                rss_first_, static_cast<long long>(stretch_), rss_last_, static_cast<long long>(cycles_), growth);
    const bool met = ratio <= 1.2 && first < 1.0 && last < 1.0 && growth < 10.0;
    std::printf("  targets %s\n", met ? "met" : "NOT met");
    return met;
  }

 private:
  struct Stretch {
    double cpu = 0;
    double wall = 0;
  };
  static void mark(Stretch &s) {
    s.cpu = -thread_cpu_seconds();
    s.wall = -clock_seconds(CLOCK_MONOTONIC);
  }
  static void close(Stretch &s) {
    s.cpu += thread_cpu_seconds();
    s.wall += clock_seconds(CLOCK_MONOTONIC);
  }

  std::int64_t cycles_;
  std::int64_t stretch_;
  Stretch first_;
  Stretch last_;
  double rss_first_ = 0;
  double rss_last_ = 0;
};

}  // namespace tolvex::benchmarks
