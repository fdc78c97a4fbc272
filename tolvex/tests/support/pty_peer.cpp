#include "pty_peer.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <tolvex/tolvex.h>

namespace tolvex::test {

PtyPeer::PtyPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error(std::string("pseudo-terminal: ") + std::strerror(errno));
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname_r failed");
  slave_path_ = name;
  // Raw master side, so no byte is translated on its way to the test.
  termios tio{};
  if (tcgetattr(master_, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
  }
  const int flags = fcntl(master_, F_GETFL);
  fcntl(master_, F_SETFL, flags | O_NONBLOCK);
}

PtyPeer::~PtyPeer() { hang_up(); }

void PtyPeer::hang_up() {
  if (master_ >= 0) {
    ::close(master_);
    master_ = -1;
  }
}

bool PtyPeer::line_settings(termios &out) const { return master_ >= 0 && ::tcgetattr(master_, &out) == 0; }

std::optional<std::uint8_t> PtyPeer::read_byte(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (master_ >= 0) {
    std::uint8_t b;
    const ssize_t n = ::read(master_, &b, 1);
    if (n == 1) return b;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd pfd{master_, POLLIN, 0};
    // EIO on the master means no slave is open at the moment; poll then returns at once, so wait a little.
    if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0 || (pfd.revents & (POLLHUP | POLLERR))) {
      std::this_thread::sleep_for(1ms);
    }
  }
  return std::nullopt;
}

Bytes PtyPeer::read_bytes(std::size_t n, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Bytes out;
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    auto b = read_byte(left);
    if (!b) break;
    out.push_back(*b);
  }
  return out;
}

std::optional<Frame> PtyPeer::read_frame(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto left = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  };
  std::optional<std::uint8_t> b;
  do {  // skip anything before the start byte
    b = read_byte(left());
    if (!b) return std::nullopt;
  } while (*b != 0x01);
  Bytes raw{0x01};
  Bytes head = read_bytes(4, left());
  if (head.size() != 4) return std::nullopt;
  raw.insert(raw.end(), head.begin(), head.end());
  const std::size_t len = (static_cast<std::size_t>(raw[2]) << 8) | raw[3];
  if (len < 3) return std::nullopt;
  Bytes rest = read_bytes(len + 2, left());  // code + data, ETX, BCC
  if (rest.size() != len + 2) return std::nullopt;
  raw.insert(raw.end(), rest.begin(), rest.end());
  Frame f;
  f.raw = raw;
  f.code.assign(raw.begin() + 5, raw.begin() + 8);
  f.data.assign(raw.begin() + 8, raw.begin() + 8 + static_cast<std::ptrdiff_t>(len - 3));
  if (raw[raw.size() - 2] != 0x03) return std::nullopt;
  if (xor_of(raw.data() + 1, raw.data() + raw.size() - 1) != raw.back()) return std::nullopt;
  return f;
}

Bytes PtyPeer::drain(std::chrono::milliseconds window) {
  return read_bytes(std::numeric_limits<std::size_t>::max(), window);
}

void PtyPeer::write(const Bytes &bytes) {
  std::size_t done = 0;
  while (master_ >= 0 && done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
    } else {
      pollfd pfd{master_, POLLOUT, 0};
      ::poll(&pfd, 1, 100);
    }
  }
}

std::optional<Frame> PtyPeer::serve(std::uint16_t status, const Bytes &data) {
  auto frame = read_frame();
  if (!frame) {
    ADD_FAILURE() << "no command frame arrived";
    return std::nullopt;
  }
  write_byte(ACK);
  auto enq = read_byte();
  if (!enq || *enq != ENQ) {
    ADD_FAILURE() << "expected ENQ after ACK";
    return frame;
  }
  write(reply_frame(frame->code, status, data));
  auto ack = read_byte();
  if (!ack || *ack != ACK) ADD_FAILURE() << "expected ACK after a good reply";
  return frame;
}

double process_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool leave_no_room_for_threads() {
  long pages = 0;
  if (FILE *f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  if (pages <= 0) return false;
  const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (2u << 20);
  const rlimit limit{room, room};
  return setrlimit(RLIMIT_AS, &limit) == 0;
}

Outcome wait_outcome(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Outcome o;
  o.data.assign(TOLVEX_RESPONSE_MAX, 0);
  while (std::chrono::steady_clock::now() < deadline) {
    if (chk_res(o.data.data(), &o.length, &o.prc_no, &o.result) != 0) {
      o.finished = true;
      o.data.resize(static_cast<std::size_t>(o.length < 0 ? 0 : o.length));
      return o;
    }
    std::this_thread::sleep_for(1ms);
  }
  return o;
}

}  // namespace tolvex::test
