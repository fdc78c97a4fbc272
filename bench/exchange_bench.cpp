// Exchange benchmark: the library against an instantly answering terminal on a
// pseudo-terminal. Prints the round trip of a status command, the library's CPU time
// per command, and the CPU it uses while a reply is late.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <tolvex/tolvex.h>

#include <algorithm>
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

double cpu_seconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

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
  double thread_cpu() const { return cpu_.load(); }

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
      cpu_ = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
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
    cpu_ = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
  }
  static Bytes reply(const Bytes &frame) {
    static const char kText[] = "BENCH";  // sent with its terminating zero
    const std::size_t body = 6 + sizeof kText;
    Bytes r;
    r.reserve(body + 7);
    for (std::uint8_t b : {std::uint8_t{0x01}, std::uint8_t{0x00}, std::uint8_t{0x00},
                           static_cast<std::uint8_t>(body), std::uint8_t{0x02}, frame[5], frame[6], frame[7],
                           std::uint8_t{0x00}, std::uint8_t{0x00}, std::uint8_t{0x00}}) {
      r.push_back(b);
    }
    for (char c : kText) r.push_back(static_cast<std::uint8_t>(c));
    r.push_back(0x03);
    std::uint8_t x = 0;
    for (std::size_t i = 1; i < r.size(); ++i) x = static_cast<std::uint8_t>(x ^ r[i]);
    r.push_back(x);
    return r;
  }

  int master_ = -1;
  std::string slave_;
  std::thread thread_;
  std::atomic<bool> running_{true};
  std::atomic<int> delay_ms_{0};
  std::atomic<double> cpu_{0.0};
};

// The caller sleeps until the library reports completion, so its own polling costs nothing.
struct Done {
  std::mutex lock;
  std::condition_variable cv;
  int finished = 0;
} g_done;

void on_done(std::uint8_t, void *) {
  {
    std::lock_guard<std::mutex> guard(g_done.lock);
    ++g_done.finished;
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

}  // namespace

int main(int argc, char **argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
  ::pthread_setname_np(::pthread_self(), "bench-caller");
  Terminal terminal;
  if (EnablePort(terminal.slave(), 8, 0, 0, 57600, 0) != 1) {
    std::fprintf(stderr, "EnablePort: %s\n", tolvex_port_error());
    return 1;
  }
  tolvex_set_completion_handler(on_done, nullptr);

  for (int i = 0; i < 200; ++i) {  // warm up
    if (run("C11") != 0) {
      std::fprintf(stderr, "warm-up command failed\n");
      return 1;
    }
  }

  const auto threads0 = thread_cpu_by_name();
  std::vector<double> trips;
  trips.reserve(static_cast<std::size_t>(count));
  const double cpu0 = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
  const double peer0 = terminal.thread_cpu();
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    failures += run("C11") != 0 ? 1 : 0;
    trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  run("C11");  // lets the terminal record its CPU after the last measured command
  const double cpu1 = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
  const double peer1 = terminal.thread_cpu();
  const double library_us = ((cpu1 - cpu0) - (peer1 - peer0)) * 1e6 / count;
  const auto threads1 = thread_cpu_by_name();
  auto per_command_us = [&](const std::string &name) {
    return (cpu_of(threads1, name) - cpu_of(threads0, name)) * 1e6 / count;
  };

  std::printf("tolvex exchange benchmark (pseudo-terminal, instantly answering terminal)\n");
  std::printf("  commands                       %d (%d failed)\n", count, failures);
  std::printf("  round trip exe_cmd(\"C11\") p50   %8.1f us   (target p99 <= 1000 us)\n", percentile(trips, 0.50));
  std::printf("  round trip exe_cmd(\"C11\") p99   %8.1f us\n", percentile(trips, 0.99));
  std::printf("  round trip max                 %8.1f us\n", percentile(trips, 1.0));
  std::printf("  library CPU per command        %8.1f us   (target <= 100 us)\n", library_us);
  std::printf("    of which worker %.1f us, receive thread %.1f us, caller (exe_cmd, chk_res, waiting) %.1f us\n",
              per_command_us("tolvex-worker"), per_command_us("tolvex-rx"),
              per_command_us("bench-caller"));

  // A move command whose reply comes 3 s after the ENQ.
  terminal.set_delay(std::chrono::milliseconds(3000));
  const double wait_cpu0 = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
  const double wait_peer0 = terminal.thread_cpu();
  const auto w0 = Clock::now();
  const int late = run("C31");
  const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
  terminal.set_delay(std::chrono::milliseconds(0));
  run("C11");
  const double wait_cpu = (cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - wait_cpu0) - (terminal.thread_cpu() - wait_peer0);
  std::printf("  reply 3 s late: result %d after %.2f s, library CPU %.2f ms = %.3f %% of one core"
              "   (target <= 1 %%)\n",
              late, wall, wait_cpu * 1e3, 100.0 * wait_cpu / wall);

  tolvex_set_completion_handler(nullptr, nullptr);
  DisablePort();
  return failures == 0 && late == 0 ? 0 : 1;
}
