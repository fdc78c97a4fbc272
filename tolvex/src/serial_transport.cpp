#include "serial_transport.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace tolvex {
namespace {

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

// The slave side of a pseudo-terminal: Unix98 (majors 136 to 143) or the older BSD kind (3).
bool is_pty_slave(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return (m >= 136 && m <= 143) || m == 3;
}

}  // namespace

bool SerialTransport::open(const std::string &path, const LineSettings &s, std::string &error) {
  close();
  const std::optional<speed_t> speed = speed_for(s.baud);
  if (!speed) return fail(error, "baud rate " + std::to_string(s.baud) + " not supported");
  tcflag_t size_flag = CS8;
  switch (s.byte_size) {
    case 5: size_flag = CS5; break;
    case 6: size_flag = CS6; break;
    case 7: size_flag = CS7; break;
    case 8: size_flag = CS8; break;
    default: return fail(error, "byte size " + std::to_string(s.byte_size) + " not supported");
  }
  tcflag_t parity_flags = 0;
  switch (s.parity) {
    case 0: break;
    case 1: parity_flags = PARENB | PARODD; break;
    case 2: parity_flags = PARENB; break;
    case 3: parity_flags = PARENB | PARODD | CMSPAR; break;
    case 4: parity_flags = PARENB | CMSPAR; break;
    default: return fail(error, "parity " + std::to_string(s.parity) + " not supported");
  }
  // One and a half stop bits exist only with 5 data bits, where two-stop-bit mode gives them.
  if (s.stop_bits > 2 || (s.stop_bits == 1 && s.byte_size != 5)) {
    return fail(error, "stop bits code " + std::to_string(s.stop_bits) + " not supported with " +
                           std::to_string(s.byte_size) + " data bits");
  }

  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return fail(error, path + ": " + std::strerror(errno));
  // Exclusive: the advisory lock holds even against root, TIOCEXCL against other openers.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    return fail(error, path + ": " + (e == EWOULDBLOCK ? std::string("port is in use") : std::strerror(e)));
  }
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) return fail(error, path + ": " + std::strerror(errno));
  if (::ioctl(fd_, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    return fail(error, path + ": " + std::strerror(errno));
  }

  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD | size_flag | parity_flags;
  if (s.stop_bits != 0) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  if (s.parity != 0) tio.c_iflag |= INPCK;
  const bool software = s.flow == 1 || s.flow == 3;
  const bool hardware = s.flow == 2 || s.flow == 3;
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
    return fail(error, path + ": " + std::strerror(errno));
  }
  ::tcflush(fd_, TCIOFLUSH);
  // DTR held on, RTS raised; a pseudo-terminal refuses modem lines, which is no failure.
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)::ioctl(fd_, TIOCMBIS, &lines);
  // A pseudo-terminal hands written bytes to its other side at once and keeps no output
  // queue, so asking for one after every write would only cost a system call.
  queue_less_ = is_pty_slave(fd_);
  hung_up_ = false;
  return true;
}

void SerialTransport::close() {
  if (fd_ < 0) return;
  // Clear the exclusive mode first: whoever holds the other side may reopen later.
  ::ioctl(fd_, TIOCNXCL);
  ::tcflush(fd_, TCIOFLUSH);
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

long SerialTransport::write(const std::uint8_t *bytes, std::size_t n) {
  if (fd_ < 0 || hung_up_) return -1;
  for (;;) {
    const ssize_t w = ::write(fd_, bytes, n);
    if (w >= 0) return static_cast<long>(w);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;  // output buffer full (flow control holding it)
    if (errno == EIO) hung_up_ = true;
    return -1;
  }
}

bool SerialTransport::output_empty() {
  if (fd_ < 0 || queue_less_) return true;
  int queued = 0;
  return ::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0;
}

long SerialTransport::read(std::uint8_t *buffer, std::size_t max) {
  if (fd_ < 0 || hung_up_) return 0;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, max);
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    return -1;  // end of file or an error such as EIO: the far side is gone
  }
}

}  // namespace tolvex
