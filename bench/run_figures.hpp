// Figures the aging benchmarks print: the calling thread's CPU time, the process's
// resident memory, and the cost of the first and the last stretch of a long run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include <unistd.h>

namespace tolvex::benchmarks {

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
