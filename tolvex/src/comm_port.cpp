#include "comm_port.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "messages.hpp"
#include "tolvex/tolvex.h"

namespace tolvex {
namespace {

using namespace std::chrono_literals;

// True on the receive thread, whose message handler may call back into the port.
thread_local bool t_on_receive_thread = false;

struct RxReady {
  std::mutex lock;
  int flag = 0;
};
RxReady &rx_state() {
  static RxReady r;
  return r;
}

std::optional<speed_t> speed_for(std::uint32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return std::nullopt;
  }
}

std::chrono::microseconds transmission_time(std::size_t bytes, unsigned bits_per_char, std::uint32_t baud) {
  if (baud == 0) return 0us;
  const auto us = static_cast<long long>(bytes) * bits_per_char * 1000000LL / baud;
  return std::chrono::microseconds(us);
}

}  // namespace

std::uint64_t WakeSignal::ticket() {
  std::lock_guard<std::mutex> guard(lock_);
  return seq_;
}

void WakeSignal::notify() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    ++seq_;
  }
  cv_.notify_all();
}

void WakeSignal::wait(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> guard(lock_);
  cv_.wait_until(guard, deadline, [&] { return seq_ != seen; });
}

WakeSignal &worker_wake() {
  static WakeSignal w;
  return w;
}

int rx_ready(int op) {
  RxReady &r = rx_state();
  switch (op) {
    case 0: {
      std::lock_guard<std::mutex> guard(r.lock);
      r.flag = 0;
      return 1;
    }
    case 1: {
      {
        std::lock_guard<std::mutex> guard(r.lock);
        r.flag = 1;
      }
      worker_wake().notify();
      return 1;
    }
    case 2: {
      std::lock_guard<std::mutex> guard(r.lock);
      return r.flag;
    }
    default:
      return 1;
  }
}

CCommPort::CCommPort() {
  // Everything the receive thread touches must outlive this object.
  (void)rx_state();
  (void)worker_wake();
}

CCommPort::~CCommPort() { close(); }

CCommPort &comm_port() {
  static CCommPort port;
  return port;
}

void CCommPort::set_error(const std::string &text) {
  std::lock_guard<std::mutex> guard(error_lock_);
  std::snprintf(error_, sizeof error_, "%s", text.c_str());
}

const char *CCommPort::last_error() {
  std::lock_guard<std::mutex> guard(error_lock_);
  return error_;
}

int CCommPort::fail_open(const std::string &text) {
  set_error(text);
  if (fd_ >= 0) {
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }
  if (wake_fd_ >= 0) {
    ::close(wake_fd_);
    wake_fd_ = -1;
  }
  return 0;
}

int CCommPort::enable(const char *name, std::uint8_t byte_size, std::uint8_t parity, std::uint8_t stop_bits,
                      std::uint32_t baud_rate, std::uint8_t flow_control) {
  std::unique_lock<std::mutex> control(control_, std::defer_lock);
  if (t_on_receive_thread) {
    // As in close(): another thread is closing or reopening the port and waits for this one.
    if (!control.try_lock()) {
      set_error("the port is being closed or reopened by another thread");
      return 0;
    }
  } else {
    control.lock();
  }
  // A port that is open is closed first, whatever the new settings turn out to be.
  close_locked();

  const std::optional<std::string> path = device_path_for(name);
  if (!path) return fail_open(std::string("unknown port name \"") + (name != nullptr ? name : "") + "\"");
  const std::optional<speed_t> speed = speed_for(baud_rate);
  if (!speed) return fail_open("baud rate " + std::to_string(baud_rate) + " not supported");
  tcflag_t size_flag = CS8;
  switch (byte_size) {
    case 5: size_flag = CS5; break;
    case 6: size_flag = CS6; break;
    case 7: size_flag = CS7; break;
    case 8: size_flag = CS8; break;
    default: return fail_open("byte size " + std::to_string(byte_size) + " not supported");
  }
  tcflag_t parity_flags = 0;
  switch (parity) {
    case 0: break;
    case 1: parity_flags = PARENB | PARODD; break;
    case 2: parity_flags = PARENB; break;
    case 3: parity_flags = PARENB | PARODD | CMSPAR; break;
    case 4: parity_flags = PARENB | CMSPAR; break;
    default: return fail_open("parity " + std::to_string(parity) + " not supported");
  }
  // One and a half stop bits exist only with 5 data bits, where two-stop-bit mode gives them.
  if (stop_bits > 2 || (stop_bits == 1 && byte_size != 5)) {
    return fail_open("stop bits code " + std::to_string(stop_bits) + " not supported with " +
                     std::to_string(byte_size) + " data bits");
  }

  fd_ = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return fail_open(*path + ": " + std::strerror(errno));
  // Exclusive: the advisory lock holds even against root, TIOCEXCL against other openers.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    return fail_open(*path + ": " + (e == EWOULDBLOCK ? std::string("port is in use") : std::strerror(e)));
  }
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) return fail_open(*path + ": " + std::strerror(errno));
  if (::ioctl(fd_, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    return fail_open(*path + ": " + std::strerror(errno));
  }

  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD | size_flag | parity_flags;
  if (stop_bits != 0) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  if (parity != 0) tio.c_iflag |= INPCK;
  const bool software = flow_control == 1 || flow_control == 3;
  const bool hardware = flow_control == 2 || flow_control == 3;
  if (software) {
    tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
  }
  if (hardware) tio.c_cflag |= CRTSCTS;
  tio.c_cc[VMIN] = 1;  // with O_NONBLOCK a read never waits: no bytes gives EAGAIN
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0 ||
      ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    return fail_open(*path + ": " + std::strerror(errno));
  }
  ::tcflush(fd_, TCIOFLUSH);
  // DTR held on, RTS raised; a pseudo-terminal refuses modem lines, which is no failure.
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)::ioctl(fd_, TIOCMBIS, &lines);

  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) return fail_open(std::string("eventfd: ") + std::strerror(errno));

  baud_ = baud_rate;
  bits_per_char_ = 1u + byte_size + (parity != 0 ? 1u : 0u) + (stop_bits != 0 ? 2u : 1u);
  hung_up_.store(false, std::memory_order_release);
  open_.store(true, std::memory_order_release);
  try {
    const unsigned generation = generation_.fetch_add(1, std::memory_order_acq_rel) + 1;
    receiver_ = std::thread(
        [this, generation, fd = fd_, wake_fd = wake_fd_] { receive_loop(generation, fd, wake_fd); });
  } catch (...) {
    close_locked();
    set_error("CreateThread ERROR");
    show_message("CreateThread ERROR");
    return 0;
  }
  set_error("");
  return 1;
}

int CCommPort::close() {
  std::unique_lock<std::mutex> control(control_, std::defer_lock);
  if (t_on_receive_thread) {
    // A message handler on the receive thread closes the port. If another thread holds
    // the lock it is closing or reopening the port and waits for this thread to end:
    // leave the close to it rather than wait for each other.
    if (!control.try_lock()) return 1;
  } else {
    control.lock();
  }
  close_locked();
  return 1;
}

void CCommPort::close_locked() {
  if (!open_.exchange(false, std::memory_order_acq_rel)) return;
  const std::uint64_t one = 1;
  (void)!::write(wake_fd_, &one, sizeof one);
  if (receiver_.joinable()) {
    if (receiver_.get_id() == std::this_thread::get_id()) {
      receiver_.detach();  // closed from a message handler running on the receive thread
    } else {
      receiver_.join();
    }
  }
  std::lock_guard<std::mutex> io(io_);
  // Clear the exclusive mode first: whoever holds the other side may reopen later.
  ::ioctl(fd_, TIOCNXCL);
  ::tcflush(fd_, TCIOFLUSH);
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
  ::close(wake_fd_);
  wake_fd_ = -1;
}

std::size_t CCommPort::read_available(int fd, std::uint8_t *buffer, std::size_t max) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, max);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    // End of file or an error such as EIO: the far side is gone.
    hung_up_.store(true, std::memory_order_release);
    return 0;
  }
}

void CCommPort::receive_loop(unsigned generation, int fd, int wake_fd) {
  ::pthread_setname_np(::pthread_self(), "tolvex-rx");
  t_on_receive_thread = true;
  std::uint8_t buffer[CByteQueue::kSlots];
  // A thread left behind by a close from inside a message handler must stop at once.
  auto current = [&] {
    return open_.load(std::memory_order_acquire) && generation_.load(std::memory_order_acquire) == generation;
  };
  while (current()) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      if (current()) hung_up_.store(true, std::memory_order_release);
      return;
    }
    if (!current() || (fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) != 0) {
      for (;;) {
        if (!current()) return;
        // Ask the driver only for what the ring can take, so a reply that arrives in one
        // piece (a whole 1000-byte frame, or a second part before the worker has drained
        // the first) is never thrown away. Only a ring that is already full makes this read
        // overflow, and then its bytes are discarded as before.
        std::size_t room = static_cast<std::size_t>(CByteQueue::kSlots - 1 - m_QueueRead.count());
        // A full ring is usually being drained by the worker right now: give it a moment
        // (woken at once by a close) before declaring an overflow.
        for (int waited = 0; room == 0 && waited < 20 && current(); ++waited) {
          pollfd wake{wake_fd, POLLIN, 0};
          ::poll(&wake, 1, 1);
          room = static_cast<std::size_t>(CByteQueue::kSlots - 1 - m_QueueRead.count());
        }
        const std::size_t want = room > 0 ? room : sizeof buffer;
        const std::size_t n = read_available(fd, buffer, want);
        if (n == 0) break;
        if (n <= room) {
          for (std::size_t i = 0; i < n; ++i) m_QueueRead.push(buffer[i]);
          rx_ready(1);
        } else {
          show_message("m_QueueRead FULL!");
        }
        // A short read emptied what the driver held; poll again rather than ask once more.
        if (n < want) break;
      }
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && current()) {
      hung_up_.store(true, std::memory_order_release);
    }
    // A hung-up port reports itself ready for ever; stop reading until it is opened again.
    if (hung_up_.load(std::memory_order_acquire)) return;
  }
}

int CCommPort::write_bytes(const std::uint8_t *bytes, std::size_t size) {
  std::lock_guard<std::mutex> io(io_);
  if (!open_.load(std::memory_order_acquire) || hung_up_.load(std::memory_order_acquire) || fd_ < 0) return 0;
  const auto deadline = std::chrono::steady_clock::now() + 1000ms + 2 * transmission_time(size, bits_per_char_, baud_);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      if (errno == EIO) hung_up_.store(true, std::memory_order_release);
      return 0;
    }
    // Output buffer full (flow control holding it): wait in short slices so a close is seen.
    if (std::chrono::steady_clock::now() >= deadline || !open_.load(std::memory_order_acquire)) return 0;
    pollfd pfd{fd_, POLLOUT, 0};
    ::poll(&pfd, 1, 10);
  }
  return 1;
}

bool CCommPort::drain(std::size_t pending_bytes) {
  std::optional<std::chrono::steady_clock::time_point> deadline;
  auto pause = 20us;
  for (;;) {
    {
      std::lock_guard<std::mutex> io(io_);
      if (!open_.load(std::memory_order_acquire) || hung_up_.load(std::memory_order_acquire) || fd_ < 0) {
        return false;
      }
      // The line settings are read only while the port is known to be open.
      if (!deadline) {
        deadline = std::chrono::steady_clock::now() + 1000ms +
                   2 * transmission_time(pending_bytes, bits_per_char_, baud_);
      }
      int queued = 0;
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    }
    if (std::chrono::steady_clock::now() >= *deadline) return false;
    std::this_thread::sleep_for(pause);
    if (pause < 1000us) pause *= 2;
  }
}

}  // namespace tolvex

extern "C" TOLVEX_API int EnablePort(const char *port_name, uint8_t byte_size, uint8_t parity, uint8_t stop_bits,
                                     uint32_t baud_rate, uint8_t flow_control) {
  return tolvex::comm_port().enable(port_name, byte_size, parity, stop_bits, baud_rate, flow_control);
}

extern "C" TOLVEX_API int DisablePort(void) { return tolvex::comm_port().close(); }

extern "C" TOLVEX_API const char *tolvex_port_error(void) { return tolvex::comm_port().last_error(); }
