// The simulator's line: a pseudo-terminal (or a serial device), one thread that polls
// it, feeds the protocol engine and writes the scheduled replies, paced at the line
// speed when asked to.
#include "tolvex_sim/simulator.hpp"

#include <tolvex/trace_line.hpp>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <iterator>
#include <thread>

#include "device.hpp"
#include "engine.hpp"
#include "faults.hpp"
#include "listen_socket.hpp"
#include "sim_socket.hpp"

namespace tolvex::sim {

#ifndef _WIN32
namespace {

// The line speed setting of a speed the terminal runs at (checked when the line opens).
speed_t speed_of(int baud) {
  static constexpr speed_t kSpeeds[] = {B9600, B19200, B38400, B57600};
  static_assert(std::size(kSpeeds) == std::size(kTerminalBauds));
  return kSpeeds[terminal_baud_index(baud)];
}

}  // namespace
#endif

struct Simulator::Impl {
  explicit Impl(Options o)
      : options(std::move(o)), device(options), faults(options.seed), engine(device, faults) {}

  Options options;
  mutable std::mutex mu;  // guards device, faults and engine
  Device device;
  FaultPlan faults;
  Engine engine;

  Socket fd = kNoSocket;  // pty master or the device
  int slave_keep = -1;    // held open so the master never sees a hang-up
  Socket wake = kNoSocket;
  bool is_pty = false;
  Socket listen_fd = kNoSocket;  // serving TCP: the listening socket; fd is then the client, or none
  bool tcp = false;
  std::string path;
  bool link_made = false;
  std::FILE *trace = nullptr;
  bool trace_owned = false;
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<int> line_baud{38400};

  bool open_line(std::string *error);
#ifndef _WIN32
  bool open_serial_line(std::string *error);  // the pseudo-terminal or the device
#endif
  void close_line();
  void run();
  void trace_bytes(bool from_host, const std::uint8_t *b, std::size_t n);
};

bool Simulator::Impl::open_line(std::string *error) {
  auto fail = [&](const std::string &what) {
    if (error) *error = what + ": " + std::strerror(errno);
    close_line();
    return false;
  };
  if (terminal_baud_index(options.baud) < 0) {
    errno = EINVAL;
    return fail("line speed " + std::to_string(options.baud) + " (the terminal runs at 9600, 19200, 38400 or 57600)");
  }
  if (!options.listen.empty()) {
    std::uint16_t port = 0;
    std::string why;
    listen_fd = listen_on(options.listen, port, why);
    if (listen_fd == kNoSocket) {
      if (error) *error = why;
      close_line();
      return false;
    }
    path = "socket://" + listen_host(options.listen) + ":" + std::to_string(port);
    tcp = true;
  } else {
#ifdef _WIN32
    if (error) *error = "only --listen HOST:PORT serves the terminal on Windows (no pseudo-terminal or serial device)";
    close_line();
    return false;
#else
    if (!open_serial_line(error)) return false;
#endif
  }
#ifndef _WIN32
  const int flags = tcp ? 0 : fcntl(static_cast<int>(fd), F_GETFL);
  if (!tcp && (flags < 0 || fcntl(static_cast<int>(fd), F_SETFL, flags | O_NONBLOCK) != 0)) return fail("fcntl");
#endif
  wake = make_waker();
  if (wake == kNoSocket) return fail("wake-up");
#ifndef _WIN32
  if (!options.link.empty() && !tcp) {
    struct stat stl {};
    if (lstat(options.link.c_str(), &stl) == 0) {
      if (!S_ISLNK(stl.st_mode)) {
        errno = EEXIST;
        return fail("link " + options.link + " exists and is not a symbolic link");
      }
      ::unlink(options.link.c_str());
    }
    if (::symlink(path.c_str(), options.link.c_str()) != 0) return fail("symlink " + options.link);
    link_made = true;
  }
#endif
  if (!options.trace_path.empty()) {
    if (options.trace_path == "-") {
      trace = stderr;
    } else {
      trace = std::fopen(options.trace_path.c_str(), "a");
      if (!trace) return fail("open trace " + options.trace_path);
      trace_owned = true;
    }
  }
  line_baud = options.baud;
  return true;
}

#ifndef _WIN32
bool Simulator::Impl::open_serial_line(std::string *error) {
  auto fail = [&](const std::string &what) {
    if (error) *error = what + ": " + std::strerror(errno);
    close_line();
    return false;
  };
  int line = -1;
  if (options.device.empty()) {
    line = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    fd = line;
    if (line < 0) return fail("posix_openpt");
    if (grantpt(line) != 0 || unlockpt(line) != 0) return fail("grantpt/unlockpt");
    char name[128] = {};
    if (ptsname_r(line, name, sizeof name) != 0) return fail("ptsname_r");
    path = name;
    slave_keep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_keep < 0) return fail("open " + path);
    termios tio{};
    if (tcgetattr(slave_keep, &tio) == 0) {
      cfmakeraw(&tio);
      cfsetspeed(&tio, speed_of(options.baud));
      tcsetattr(slave_keep, TCSANOW, &tio);
    }
    is_pty = true;
  } else {
    path = options.device;
    line = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);  // no wait for carrier
    fd = line;
    if (line < 0) return fail("open " + path);
    termios tio{};
    if (tcgetattr(line, &tio) != 0) return fail("tcgetattr " + path);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    cfsetspeed(&tio, speed_of(options.baud));
    if (tcsetattr(line, TCSANOW, &tio) != 0) return fail("tcsetattr " + path);
    tcflush(line, TCIOFLUSH);
    is_pty = false;
  }
  return true;
}
#endif

void Simulator::Impl::close_line() {
#ifndef _WIN32
  if (link_made) {
    char buf[256] = {};
    const ssize_t n = ::readlink(options.link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && path == std::string(buf, static_cast<std::size_t>(n))) ::unlink(options.link.c_str());
    link_made = false;
  }
  if (slave_keep >= 0) ::close(slave_keep);
#endif
  if (trace_owned && trace) std::fclose(trace);
  trace = nullptr;
  trace_owned = false;
  close_socket(fd);
  close_socket(wake);
  close_socket(listen_fd);
  fd = wake = listen_fd = kNoSocket;
  slave_keep = -1;
}

void Simulator::Impl::trace_bytes(bool from_host, const std::uint8_t *b, std::size_t n) {
  if (options.on_bytes) options.on_bytes(from_host, b, n);
  if (!trace) return;
  const std::string line = trace_line(utc_time_of_day(), !from_host, b, n);
  std::fputs(line.c_str(), trace);
  std::fflush(trace);
}

void Simulator::Impl::run() {
  std::deque<OutChunk> queue;
  Clock::time_point line_free = Clock::now();  // when the last byte sent has left the line
  bool have_start = false;                     // the front chunk's start time is fixed
  Clock::time_point chunk_start{};
  std::size_t sent = 0;
  bool want_pollout = false;
  std::uint8_t buf[4096];
  std::vector<OutChunk> produced;

  auto byte_time = [this]() {
    if (options.instant) return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / line_baud.load()));
  };

  while (!stopping.load()) {
    // Write what is due.
    Clock::time_point now = Clock::now();
    want_pollout = false;
    while (!queue.empty()) {
      OutChunk &c = queue.front();
      if (!have_start) {
        chunk_start = std::max(c.not_before, line_free + std::chrono::milliseconds(c.gap_ms));
        have_start = true;
        sent = 0;
      }
      if (c.new_baud > 0) {
        if (now < std::max(chunk_start, line_free)) break;
#ifndef _WIN32
        if (!is_pty && !tcp) {
          const int line = static_cast<int>(fd);
          tcdrain(line);
          termios tio{};
          if (tcgetattr(line, &tio) == 0) {
            cfsetspeed(&tio, speed_of(c.new_baud));
            tcsetattr(line, TCSANOW, &tio);
          }
        }
#endif
        line_baud = c.new_baud;
        queue.pop_front();
        have_start = false;
        continue;
      }
      const auto bt = byte_time();
      std::size_t due = c.bytes.size();
      if (bt.count() > 0) {
        if (now < chunk_start) break;
        due = std::min<std::size_t>(c.bytes.size(), static_cast<std::size_t>((now - chunk_start) / bt) + 1);
      } else if (now < chunk_start) {
        break;
      }
      if (due > sent) {
        const long w = line_write(fd, tcp, c.bytes.data() + sent, due - sent);
        if (w < 0) {
          if (would_block()) {
            want_pollout = true;
            break;
          }
          // The line is gone (device unplugged): drop what cannot be sent.
          queue.clear();
          have_start = false;
          break;
        }
        trace_bytes(false, c.bytes.data() + sent, static_cast<std::size_t>(w));
        sent += static_cast<std::size_t>(w);
        if (sent < due) {
          want_pollout = true;
          break;
        }
      }
      if (sent < c.bytes.size()) break;  // paced: the next byte is not due yet
      line_free = std::max(now, chunk_start + bt * static_cast<long>(c.bytes.size()));
      queue.pop_front();
      have_start = false;
    }

    // Sleep until input, a wake-up or the next due byte.
    std::chrono::nanoseconds timeout{-1};
    if (!queue.empty() && !want_pollout) {
      Clock::time_point next = chunk_start;
      if (have_start && !queue.front().bytes.empty() && byte_time().count() > 0)
        next = chunk_start + byte_time() * static_cast<long>(sent);
      if (have_start && queue.front().new_baud > 0) next = std::max(chunk_start, line_free);
      auto wait = next - Clock::now();
      if (wait < Clock::duration::zero()) wait = Clock::duration::zero();
      timeout = std::chrono::duration_cast<std::chrono::nanoseconds>(wait);
    }
    Ready ready;
    if (!wait_ready(fd, want_pollout, wake, listen_fd, timeout, ready)) break;
    if (ready.waker) drain_waker(wake);
    if (stopping.load()) break;
    if (ready.line) {
      const long n = line_read(fd, tcp, buf, sizeof buf);
      if (n > 0) {
        trace_bytes(true, buf, static_cast<std::size_t>(n));
        produced.clear();
        {
          std::lock_guard<std::mutex> lock(mu);
          engine.receive(buf, static_cast<std::size_t>(n), Clock::now(), produced);
        }
        for (OutChunk &c : produced) {
          if (c.drop_queued) {
            // Keep only a chunk that is partly on the line already.
            const bool keep_front = !queue.empty() && have_start && sent > 0;
            while (queue.size() > (keep_front ? 1u : 0u)) queue.pop_back();
            if (!keep_front) have_start = false;
            continue;
          }
          queue.push_back(std::move(c));
        }
      } else if (tcp && (n == 0 || !would_block())) {
        // The client went away: the terminal stays as it is for the next one, and what
        // it still had to send goes nowhere, as on an unplugged line.
        close_socket(fd);
        fd = kNoSocket;
        queue.clear();
        have_start = false;
      } else if (n == 0 || !would_block()) {
        // A hang-up on a real device: wait a little instead of spinning.
        Ready paused;
        wait_ready(kNoSocket, false, wake, kNoSocket, std::chrono::milliseconds(50), paused);
      }
    }
    // One client at a time: a second connection is closed while the first lasts. A
    // client that closed and connected again at once may have its end still unread
    // behind its last bytes: it has ended when nothing but the end is left to read.
    if (ready.listener) {
      const Socket client = accept_client(listen_fd);
      if (client != kNoSocket && fd != kNoSocket && peer_closed(fd)) {
        close_socket(fd);
        fd = kNoSocket;
        queue.clear();
        have_start = false;
      }
      if (client != kNoSocket && fd != kNoSocket) {
        close_socket(client);
      } else if (client != kNoSocket) {
        fd = client;
      }
    }
  }
}

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() { stop(); }

bool Simulator::start(std::string *error) {
  if (impl_->thread.joinable()) {
    if (error) *error = "already running";
    return false;
  }
  if (!impl_->open_line(error)) return false;
  impl_->stopping = false;
  impl_->thread = std::thread([this] { impl_->run(); });
  return true;
}

void Simulator::stop() {
  if (!impl_->thread.joinable()) return;
  impl_->stopping = true;
  wake(impl_->wake);
  impl_->thread.join();
  impl_->close_line();
}

std::string Simulator::path() const { return impl_->path; }

bool Simulator::add_fault(const std::string &rule, std::string *error) {
  FaultRule r;
  if (!parse_fault_rule(rule, r, error)) return false;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->faults.add(r);
  return true;
}

void Simulator::clear_faults() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->faults.clear();
}

void Simulator::take_card() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.take_card(Clock::now());
}

void Simulator::set_condition(Condition condition, bool on) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.set_conditions(condition_bit(condition), on);
}

void Simulator::clear_conditions() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.clear_conditions();
}

void Simulator::service() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.clear_transport();
  impl_->device.set_capture_count(0);
  impl_->device.clear_conditions();
}

void Simulator::clear_transport() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.clear_transport();
}

void Simulator::empty_capture_box() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.set_capture_count(0);
}

void Simulator::set_stacker(int stacker, int cards, bool cartridge) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.set_stacker(stacker - 1, cards, cartridge);
}

void Simulator::set_capture_count(int count) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.set_capture_count(count);
}

bool Simulator::card_at_exit() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->device.card_at_exit(Clock::now());
}

bool Simulator::card_inside() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->device.place(Clock::now()) != Place::None;
}

int Simulator::capture_count() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->device.place(Clock::now());  // a card left at the exit may have been captured by now
  return impl_->device.capture_count();
}

int Simulator::stacker_cards(int stacker) const {
  if (stacker < 1 || stacker > 2) return 0;
  std::lock_guard<std::mutex> lock(impl_->mu);
  const Stacker &s = impl_->device.stacker(stacker - 1);
  return s.count + static_cast<int>(s.returned.size());
}

int Simulator::line_baud() const { return impl_->line_baud.load(); }

std::uint64_t Simulator::frames_received() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->engine.frames();
}

Options in_process_options() {
  Options options;
  options.instant = true;
#ifdef _WIN32
  options.listen = "127.0.0.1:0";
#endif
  return options;
}

std::unique_ptr<Simulator> start_as_com_port(unsigned n, std::string *error) {
  auto sim = std::make_unique<Simulator>(in_process_options());
  if (!sim->start(error)) return nullptr;
  // The library resolves COMn through TOLVEX_COMn first; it shares this C runtime's
  // environment.
  const std::string variable = "TOLVEX_COM" + std::to_string(n);
#ifdef _WIN32
  const bool set = _putenv_s(variable.c_str(), sim->path().c_str()) == 0;
#else
  const bool set = ::setenv(variable.c_str(), sim->path().c_str(), 1) == 0;
#endif
  if (!set) {
    if (error != nullptr) *error = "cannot set " + variable;
    return nullptr;
  }
  return sim;
}

}  // namespace tolvex::sim
