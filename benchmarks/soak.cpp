// Soak run: many commands through the library's C interface against the simulated
// terminal with a fault plan, then unplug/replug cycles (the terminal's line closed in
// the middle of a command, the port opened again). Prints the outcomes by result code,
// the hangs (an outcome later than the command's windows allow), and the resident
// memory and open descriptors at start and end. Exits non-zero on a hang, a command
// without any outcome, a wrong process number or growth of memory or descriptors.
//
//   tolvex_soak            SOAK_COMMANDS (default 100000), SOAK_UNPLUGS (default 100)
#include <tolvex/protocol.hpp>
#include <tolvex/tolvex.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tolvex_sim/simulator.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Longest a short command may legitimately run: sends that end without ACK, then the
// last send's whole short reply window. Every command of the run is a short one, so a
// fault costs seconds, not the long window of the others.
constexpr auto kAllowed =
    std::chrono::milliseconds((tolvex::kSendsMax - 1) * tolvex::kAckWindowMs + tolvex::kShortReplyMs);
// Scheduling on a busy machine; an outcome later than kAllowed + kSlack is a hang.
constexpr auto kSlack = 1000ms;
// After a hang, how long exe_stop gets before the command counts as never ending.
constexpr auto kStopGrace = 20s;

constexpr long kRssToleranceKb = 4096;  // allocator and thread-stack noise
constexpr int kWarmUpCommands = 500;    // threads and buffers the library creates lazily

const char *const kFaults[] = {"all:noack@1%", "all:nak@1%",      "all:badbcc@1%",
                               "all:late=20@1%", "all:split=3@1%", "all:noise@1%"};

long env_count(const char *name, long fallback) {
  const char *v = std::getenv(name);
  if (v == nullptr || *v == '\0') return fallback;
  char *end = nullptr;
  const long n = std::strtol(v, &end, 10);
  if (*end != '\0' || n < 0) {
    std::fprintf(stderr, "tolvex_soak: %s must be a whole number, got '%s'\n", name, v);
    std::exit(2);
  }
  return n;
}

long resident_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

int open_descriptors() {
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (const dirent *e = readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(dir);
  return n - 1;  // the directory being read
}

// Outcomes as the completion handler announces them.
struct Completions {
  std::mutex lock;
  std::condition_variable cv;
  std::uint64_t count = 0;
  std::uint8_t last = 0;
  Clock::time_point at{};

  static void handler(std::uint8_t prc_no, void *ctx) {
    auto *self = static_cast<Completions *>(ctx);
    {
      std::lock_guard<std::mutex> guard(self->lock);
      ++self->count;
      self->last = prc_no;
      self->at = Clock::now();
    }
    self->cv.notify_all();
  }
};

struct Tally {
  std::map<int, long> by_result;
  long commands = 0;
  long refused = 0;      // the library started nothing
  long hangs = 0;        // outcome later than the windows allow
  long never_ended = 0;  // no outcome even after exe_stop
  long wrong_prc = 0;    // chk_res named another command
  Clock::duration longest{};
};

class Runner {
 public:
  Runner() { tolvex_set_completion_handler(&Completions::handler, &done_); }
  ~Runner() { tolvex_set_completion_handler(nullptr, nullptr); }

  // Runs one command to its outcome and counts it. Returns the result code, or -1 when
  // there was none.
  template <typename Start>
  int run(Tally &t, Start start) {
    std::uint64_t before = 0;
    {
      std::lock_guard<std::mutex> guard(done_.lock);
      before = done_.count;
    }
    ++t.commands;
    const Clock::time_point began = Clock::now();
    const int prc = start();
    if (prc == 0) {
      ++t.refused;
      return -1;
    }
    std::unique_lock<std::mutex> guard(done_.lock);
    auto finished = [&] { return done_.count > before; };
    if (!done_.cv.wait_until(guard, began + kAllowed + kSlack, finished)) {
      ++t.hangs;
      guard.unlock();
      exe_stop();
      guard.lock();
      if (!done_.cv.wait_for(guard, kStopGrace, finished)) {
        ++t.never_ended;
        return -1;
      }
    }
    t.longest = std::max(t.longest, done_.at - began);
    guard.unlock();

    std::uint8_t data[TOLVEX_RESPONSE_MAX];
    int length = 0;
    std::uint8_t no = 0;
    int result = -1;
    if (chk_res(data, &length, &no, &result) != 1 || no != static_cast<std::uint8_t>(prc)) ++t.wrong_prc;
    ++t.by_result[result];
    return result;
  }

 private:
  Completions done_;
};

std::unique_ptr<tolvex::sim::Simulator> plug_in(const std::vector<std::string> &faults, std::uint32_t seed) {
  tolvex::sim::Options o;
  o.instant = true;
  o.seed = seed;
  auto sim = std::make_unique<tolvex::sim::Simulator>(o);
  std::string error;
  if (!sim->start(&error)) {
    std::fprintf(stderr, "tolvex_soak: simulator: %s\n", error.c_str());
    std::exit(2);
  }
  for (const std::string &f : faults) {
    if (!sim->add_fault(f, &error)) {
      std::fprintf(stderr, "tolvex_soak: fault %s: %s\n", f.c_str(), error.c_str());
      std::exit(2);
    }
  }
  DisablePort();
  if (EnablePort(sim->path().c_str(), 8, 0, 0, 38400, 0) != 1) {
    std::fprintf(stderr, "tolvex_soak: EnablePort %s: %s\n", sim->path().c_str(), tolvex_port_error());
    std::exit(2);
  }
  return sim;
}

// One short command, chosen at random; some carry data of random length.
int start_command(std::mt19937 &rng) {
  static std::vector<std::uint8_t> data(990);
  switch (rng() % 12) {
    case 0: return model();
    case 1: return fw_version();
    case 2: return chk_stacker();
    case 3: return get_stat();
    case 4: return get_err();
    case 5: return card_position();
    case 6: return get_stat_in_port();
    case 7: return rty_cnt(2, 0);
    case 8: return mi_det_no_sens();
    default: {
      const std::size_t n = rng() % (data.size() + 1);
      for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(rng());
      return exe_cmd(rng() % 2 ? "R34" : "C11", data.data(), static_cast<std::uint32_t>(n));
    }
  }
}

const char *result_name(int code) {
  switch (code) {
    case TOLVEX_OK: return "success";
    case TOLVEX_NO_ACK: return "No ACK";
    case TOLVEX_TIMEOUT: return "TIMEOUT";
    case TOLVEX_NAK: return "NAK";
    case TOLVEX_STOPPED: return "stopped";
    case TOLVEX_FRAME_ERROR: return "frame error";
    case TOLVEX_BCC_ERROR: return "BCC error";
    case TOLVEX_TX_ERROR: return "transmission error";
    case TOLVEX_NEGATIVE: return "negative";
    default: return "?";
  }
}

void print_results(const char *title, const Tally &t) {
  std::printf("%s\n", title);
  std::printf("  %-34s %10ld\n", "commands", t.commands);
  for (const auto &[code, n] : t.by_result) {
    char label[64];
    std::snprintf(label, sizeof label, "result %d %s", code, result_name(code));
    std::printf("  %-34s %10ld\n", label, n);
  }
  if (t.refused) std::printf("  %-34s %10ld\n", "refused (nothing started)", t.refused);
  std::printf("  %-34s %10ld\n", "wrong process numbers", t.wrong_prc);
  std::printf("  %-34s %10ld\n", "hangs", t.hangs);
  if (t.never_ended) std::printf("  %-34s %10ld\n", "no outcome even after exe_stop", t.never_ended);
  std::printf("  %-34s %10lld\n", "longest command, ms",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(t.longest).count()));
}

}  // namespace

int main() {
  const long commands = env_count("SOAK_COMMANDS", 100000);
  const long unplugs = env_count("SOAK_UNPLUGS", 100);
  std::mt19937 rng(20261208);
  Runner runner;

  std::vector<std::string> faults(std::begin(kFaults), std::end(kFaults));
  auto sim = plug_in(faults, 1);

  // Start figures are taken once the first commands have run.
  const Clock::time_point t0 = Clock::now();
  Tally faulty;
  long rss_start = resident_kb();
  int fds_start = open_descriptors();
  for (long i = 0; i < commands; ++i) {
    runner.run(faulty, [&] { return start_command(rng); });
    if (i + 1 == kWarmUpCommands) {
      rss_start = resident_kb();
      fds_start = open_descriptors();
    }
    if ((i + 1) % 10000 == 0) std::fprintf(stderr, "tolvex_soak: %ld commands\n", i + 1);
  }
  const Clock::time_point t1 = Clock::now();

  // Unplug: the line goes away while the terminal holds the reply back, before it
  // acknowledges, or in the middle of a reply sent in slow pieces.
  const char *const kHold[] = {"all:late=3000", "all:noack", "all:split=50"};
  Tally unplugged;
  Tally replugged;
  for (long i = 0; i < unplugs; ++i) {
    std::string error;
    sim->add_fault(kHold[i % 3], &error);
    const auto pull_after = std::chrono::milliseconds(5 + rng() % 100);
    std::thread puller([&] {
      std::this_thread::sleep_for(pull_after);
      sim->stop();
    });
    runner.run(unplugged, [] { return card_position(); });
    puller.join();
    sim = plug_in({}, static_cast<std::uint32_t>(i + 2));
    runner.run(replugged, [] { return model(); });
  }
  const Clock::time_point t2 = Clock::now();

  const long rss_end = resident_kb();
  const int fds_end = open_descriptors();

  auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  std::printf("tolvex soak: faults");
  for (const char *f : kFaults) std::printf(" %s", f);
  std::printf("\n\n");
  char title[128];
  std::snprintf(title, sizeof title, "commands with faults (%.1f s)", seconds(t1 - t0));
  print_results(title, faulty);
  std::snprintf(title, sizeof title, "\nunplugged mid-command, %ld cycles (%.1f s)", unplugs, seconds(t2 - t1));
  print_results(title, unplugged);
  print_results("\nfirst command after the port is opened again", replugged);
  std::printf("\nallowed per command: %lld ms (+%lld ms slack)\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(kAllowed).count()),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(kSlack).count()));
  std::printf("\n%-34s %10s %10s\n", "", "start", "end");
  std::printf("%-34s %10ld %10ld\n", "resident memory, kB", rss_start, rss_end);
  std::printf("%-34s %10d %10d\n", "open descriptors", fds_start, fds_end);

  DisablePort();
  sim.reset();

  const long hangs = faulty.hangs + unplugged.hangs + replugged.hangs;
  const long lost = faulty.never_ended + unplugged.never_ended + replugged.never_ended;
  const long wrong = faulty.wrong_prc + unplugged.wrong_prc + replugged.wrong_prc;
  const bool grew = rss_end > rss_start + kRssToleranceKb || fds_end > fds_start;
  const bool ok = hangs == 0 && lost == 0 && wrong == 0 && !grew;
  std::printf("\n%s: %ld hangs, %ld without outcome, %ld wrong process numbers, %s\n", ok ? "PASS" : "FAIL", hangs,
              lost, wrong, grew ? "memory or descriptors grew" : "no growth (memory within 4 MB)");
  return ok ? 0 : 1;
}
