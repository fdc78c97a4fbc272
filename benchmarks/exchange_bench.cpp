// Exchange benchmark: the library against an instantly answering terminal on a
// pseudo-terminal, beside a one-thread blocking exchange (write the frame, read the ACK,
// write ENQ, read the reply, write ACK) against the same terminal in the same run: the
// floor any design pays for the system calls and the terminal. Prints CPU per command
// and round-trip percentiles of both, their ratios, and the CPU the library uses while a
// reply is late.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <tolvex/protocol.hpp>
#include <tolvex/tolvex.h>

#include <algorithm>
#include <iterator>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// A terminal that answers every frame at once: ACK, then the reply after ENQ. With a
// delay set, the reply follows the ENQ only after that delay.
class Terminal {
 public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      std::perror("pseudo-terminal");
      std::exit(1);
    }
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    char name[128];
    ptsname_r(master_, name, sizeof name);
    slave_ = name;
    thread_ = std::thread([this] { serve(); });
  }
  ~Terminal() {
    running_ = false;
    thread_.join();
    ::close(master_);
  }
  const char *slave() const { return slave_.c_str(); }
  void set_delay(std::chrono::milliseconds d) { delay_ms_ = static_cast<int>(d.count()); }
  // CPU the terminal's thread has used so far, read from the kernel at this moment.
  double cpu_seconds() {
    clockid_t clock{};
    timespec ts{};
    if (pthread_getcpuclockid(thread_.native_handle(), &clock) != 0 || clock_gettime(clock, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }

 private:
  // Waits for one byte; false when stopping.
  bool next(std::uint8_t &b) {
    while (running_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0 && ::read(master_, &b, 1) == 1) return true;
    }
    return false;
  }
  void put(const Bytes &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
    }
  }
  void serve() {
    ::pthread_setname_np(::pthread_self(), "bench-terminal");
    std::uint8_t b = 0;
    Bytes frame;
    while (running_) {
      if (!next(b)) break;
      if (b == 0x05) {  // ENQ: send the reply to the frame in hand
        if (delay_ms_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
        put(reply(frame));
        continue;
      }
      if (b != 0x01) continue;  // the host's ACK after a reply, or noise
      frame.assign(1, b);
      while (frame.size() < 4 && next(b)) frame.push_back(b);
      const std::size_t total = ((static_cast<std::size_t>(frame[2]) << 8) | frame[3]) + 7;
      while (frame.size() < total && next(b)) frame.push_back(b);
      put(Bytes{0x06});
    }
  }
  static Bytes reply(const Bytes &frame) {
    static const char kText[] = "BENCH";  // sent with its terminating zero
    const std::size_t body = tolvex::kBodyHeader + sizeof kText;
    Bytes r(body + tolvex::kFrameOverhead, 0);
    // Code echoed, status word 0x0000 and one byte, then the text.
    std::copy_n(frame.begin() + tolvex::kBodyOffset, tolvex::kCodeSize, r.begin() + tolvex::kBodyOffset);
    std::copy(std::begin(kText), std::end(kText), r.begin() + tolvex::kBodyOffset + tolvex::kBodyHeader);
    tolvex::close_frame(r.data(), body);
    return r;
  }

  int master_ = -1;
  std::string slave_;
  std::thread thread_;
  std::atomic<bool> running_{true};
  std::atomic<int> delay_ms_{0};
};

// The caller sleeps until the library reports completion, so its own polling costs nothing.
struct Done {
  std::mutex lock;
  std::condition_variable cv;
  int finished = 0;
  Clock::time_point published;  // when the library handed over the last outcome
} g_done;

void on_done(std::uint8_t, void *) {
  const Clock::time_point now = Clock::now();
  {
    std::lock_guard<std::mutex> guard(g_done.lock);
    ++g_done.finished;
    g_done.published = now;
  }
  g_done.cv.notify_one();
}

int run(const char *code) {
  int before = 0;
  {
    std::lock_guard<std::mutex> guard(g_done.lock);
    before = g_done.finished;
  }
  if (exe_cmd(code, nullptr, 0) == 0) return -1;
  {
    std::unique_lock<std::mutex> guard(g_done.lock);
    g_done.cv.wait(guard, [&] { return g_done.finished != before; });
  }
  std::uint8_t data[TOLVEX_RESPONSE_MAX];
  int length = 0;
  int result = -1;
  std::uint8_t prc = 0;
  while (chk_res(data, &length, &prc, &result) == 0) {
  }
  return result;
}

// CPU time on record for each thread of this process, by thread name, in seconds.
std::vector<std::pair<std::string, double>> thread_cpu_by_name() {
  std::vector<std::pair<std::string, double>> out;
  DIR *dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return out;
  while (dirent *e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    char name[64] = "?";
    unsigned long long ns = 0;
    if (FILE *f = std::fopen((base + "/comm").c_str(), "r")) {
      if (std::fscanf(f, "%63s", name) != 1) std::strcpy(name, "?");
      std::fclose(f);
    }
    if (FILE *f = std::fopen((base + "/schedstat").c_str(), "r")) {
      if (std::fscanf(f, "%llu", &ns) != 1) ns = 0;
      std::fclose(f);
    }
    out.emplace_back(name, static_cast<double>(ns) / 1e9);
  }
  ::closedir(dir);
  return out;
}

double cpu_of(const std::vector<std::pair<std::string, double>> &threads, const std::string &name) {
  double sum = 0;
  for (const auto &[n, s] : threads) sum += n == name ? s : 0.0;
  return sum;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
  return v[i];
}

struct Figures {
  std::vector<double> trips;     // microseconds
  std::vector<double> round_cpu; // CPU per command of each round, microseconds
  std::vector<double> round_p50; // round-trip median of each round, microseconds
  // The library only: from exe_cmd to the outcome's publication (the completion handler
  // entered), i.e. without the caller's own wake-up.
  std::vector<double> round_published_p50;
  int failures = 0;
};

// CPU of every thread of the process but the terminal's: the caller and whatever threads
// the library runs.
double exchange_cpu_seconds(Terminal &terminal) {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9 - terminal.cpu_seconds();
}

// Runs count commands through one and records their round trips and CPU in total.
template <typename Command>
void measure(Terminal &terminal, int count, Figures &total, bool library, Command command) {
  const double cpu0 = exchange_cpu_seconds(terminal);
  std::vector<double> trips;
  std::vector<double> published;
  trips.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    total.failures += command() ? 0 : 1;
    trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    if (library) published.push_back(std::chrono::duration<double, std::micro>(g_done.published - t0).count());
  }
  total.round_cpu.push_back((exchange_cpu_seconds(terminal) - cpu0) * 1e6 / count);
  total.round_p50.push_back(percentile(trips, 0.5));
  if (library) total.round_published_p50.push_back(percentile(published, 0.5));
  total.trips.insert(total.trips.end(), trips.begin(), trips.end());
}

double median(std::vector<double> v) { return percentile(std::move(v), 0.5); }

// The median of the library's figure over the floor's, round by round: each pair ran
// back to back, so the machine's drift between rounds does not enter the ratio.
double paired_ratio(const std::vector<double> &floor, const std::vector<double> &library) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < floor.size() && i < library.size(); ++i) {
    if (floor[i] > 0) ratios.push_back(library[i] / floor[i]);
  }
  return ratios.empty() ? 0.0 : median(std::move(ratios));
}

// The floor: one thread, blocking reads and writes on the slave side, no library.
class BlockingExchange {
 public:
  explicit BlockingExchange(const char *path) {
    fd_ = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) {
      std::perror("floor: open");
      std::exit(1);
    }
    cfmakeraw(&tio);
    cfsetspeed(&tio, B57600);
    tcsetattr(fd_, TCSANOW, &tio);
    tcflush(fd_, TCIOFLUSH);
  }
  ~BlockingExchange() { ::close(fd_); }
  bool model() {
    static const std::uint8_t kFrame[] = {0x01, 0x00, 0x00, 0x03, 0x02, 0x43, 0x31, 0x31, 0x03, 0x41};
    std::uint8_t b[1024];
    if (!put(kFrame, sizeof kFrame) || !get(b, 1) || b[0] != 0x06) return false;
    const std::uint8_t enq = 0x05;
    if (!put(&enq, 1) || !get(b, 4)) return false;
    const std::size_t len = (static_cast<std::size_t>(b[2]) << 8) | b[3];
    if (len + 7 > sizeof b || !get(b + 4, len + 3)) return false;
    std::uint8_t x = 0;
    for (std::size_t i = 1; i < len + 6; ++i) x = static_cast<std::uint8_t>(x ^ b[i]);
    const std::uint8_t ack = 0x06;
    return x == b[len + 6] && put(&ack, 1) && b[8] == 0 && b[9] == 0;
  }

 private:
  bool put(const std::uint8_t *p, std::size_t n) { return ::write(fd_, p, n) == static_cast<ssize_t>(n); }
  bool get(std::uint8_t *p, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t r = ::read(fd_, p + done, n - done);
      if (r <= 0) return false;
      done += static_cast<std::size_t>(r);
    }
    return true;
  }
  int fd_ = -1;
};

bool open_library(const Terminal &terminal) {
  if (EnablePort(terminal.slave(), 8, 0, 0, 57600, 0) == 1) return true;
  std::fprintf(stderr, "EnablePort: %s\n", tolvex_port_error());
  return false;
}

void print_row(const char *what, double floor, double library, double ratio, const char *target) {
  std::printf("  %-28s %9.1f %9.1f %7.2f   %s\n", what, floor, library, ratio, target);
}

}  // namespace

int main(int argc, char **argv) {
  const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 5000;
  constexpr int kRounds = 20;  // floor and library take turns, so drift on the machine hits both
  ::pthread_setname_np(::pthread_self(), "bench-caller");
  Terminal terminal;
  tolvex_set_completion_handler(on_done, nullptr);
  if (!open_library(terminal)) return 1;
  for (int i = 0; i < 200; ++i) {  // warm up
    if (run("C11") != 0) {
      std::fprintf(stderr, "warm-up command failed\n");
      return 1;
    }
  }
  DisablePort();

  Figures floor;
  Figures library;
  double io_thread_s = 0;
  double caller_s = 0;
  for (int round = 0; round < kRounds; ++round) {
    {
      BlockingExchange blocking(terminal.slave());
      measure(terminal, count / kRounds, floor, false, [&] { return blocking.model(); });
    }
    if (!open_library(terminal)) return 1;
    const auto threads0 = thread_cpu_by_name();
    measure(terminal, count / kRounds, library, true, [] { return run("C11") == 0; });
    const auto threads1 = thread_cpu_by_name();
    io_thread_s += cpu_of(threads1, "tolvex-io") - cpu_of(threads0, "tolvex-io");
    caller_s += cpu_of(threads1, "bench-caller") - cpu_of(threads0, "bench-caller");
    DisablePort();
  }
  const double measured = static_cast<double>(library.trips.size());

  std::printf("tolvex exchange benchmark (pseudo-terminal, instantly answering terminal, 57600 baud)\n");
  std::printf("  commands                       %zu each in %d alternating rounds (%d floor, %d library failed)\n",
              floor.trips.size(), kRounds, floor.failures, library.failures);
  std::printf("  %-28s %9s %9s %7s   %s\n", "", "floor", "library", "ratio", "target");
  std::printf("  (ratios of CPU and p50: medians of the round-by-round ratios)\n");
  print_row("CPU per command (us, median)", median(floor.round_cpu), median(library.round_cpu),
            paired_ratio(floor.round_cpu, library.round_cpu), "ratio <= 2");
  print_row("round trip p50 (us)", percentile(floor.trips, 0.50), percentile(library.trips, 0.50),
            paired_ratio(floor.round_p50, library.round_p50), "ratio <= 1.3");
  print_row("  outcome published p50 (us)", median(floor.round_p50), median(library.round_published_p50),
            paired_ratio(floor.round_p50, library.round_published_p50), "(before the caller wakes)");
  const double floor_p99 = percentile(floor.trips, 0.99);
  const double library_p99 = percentile(library.trips, 0.99);
  print_row("round trip p99 (us)", floor_p99, library_p99, library_p99 / floor_p99, "library < 1000 us");
  const double floor_max = percentile(floor.trips, 1.0);
  const double library_max = percentile(library.trips, 1.0);
  print_row("round trip max (us)", floor_max, library_max, library_max / floor_max, "");
  std::printf("  library CPU by thread: I/O thread %.1f us, caller (exe_cmd, chk_res, wake-up) %.1f us per command\n",
              io_thread_s * 1e6 / measured, caller_s * 1e6 / measured);

  // A move command whose reply comes 3 s after the ENQ.
  if (!open_library(terminal)) return 1;
  terminal.set_delay(std::chrono::milliseconds(3000));
  const double wait_cpu0 = exchange_cpu_seconds(terminal);
  const auto w0 = Clock::now();
  const int late = run("C31");
  const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
  const double wait_cpu = exchange_cpu_seconds(terminal) - wait_cpu0;
  terminal.set_delay(std::chrono::milliseconds(0));
  std::printf("  reply 3 s late: result %d after %.2f s, library CPU %.2f ms = %.3f %% of one core"
              "   (target < 0.1 %%)\n",
              late, wall, wait_cpu * 1e3, 100.0 * wait_cpu / wall);

  tolvex_set_completion_handler(nullptr, nullptr);
  DisablePort();
  return floor.failures == 0 && library.failures == 0 && late == 0 ? 0 : 1;
}
