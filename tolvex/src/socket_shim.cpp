#include "socket_shim.hpp"

#ifdef _WIN32
#include <mutex>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace tolvex::net {

#ifdef _WIN32

bool sockets_ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    WSADATA data;
    ready = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ready;
}

void close_socket(SocketHandle s) {
  if (s != kNoSocket) ::closesocket(s);
}

bool set_non_blocking(SocketHandle s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

int last_error() { return ::WSAGetLastError(); }
bool would_block(int error) { return error == WSAEWOULDBLOCK; }
bool connect_pending(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
bool connection_lost(int error) {
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET || error == WSAESHUTDOWN;
}

std::string error_text(int error) {
  char text[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s.empty() ? "error " + std::to_string(error) : s;
}

long send_some(SocketHandle s, const std::uint8_t *bytes, std::size_t n) {
  const int chunk = n > 0x10000 ? 0x10000 : static_cast<int>(n);
  return ::send(s, reinterpret_cast<const char *>(bytes), chunk, 0);
}

long recv_some(SocketHandle s, std::uint8_t *buffer, std::size_t max) {
  const int chunk = max > 0x10000 ? 0x10000 : static_cast<int>(max);
  return ::recv(s, reinterpret_cast<char *>(buffer), chunk, 0);
}

int wait_socket(SocketHandle s, bool for_write, int timeout_ms) {
  WSAPOLLFD p{};
  p.fd = s;
  p.events = for_write ? POLLWRNORM : POLLRDNORM;
  const int r = ::WSAPoll(&p, 1, timeout_ms);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

#else

bool sockets_ready() { return true; }

void close_socket(SocketHandle s) {
  if (s >= 0) ::close(s);
}

bool set_non_blocking(SocketHandle s) {
  const int flags = ::fcntl(s, F_GETFL);
  return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

int last_error() { return errno; }
bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
bool connect_pending(int error) { return error == EINPROGRESS; }
bool connection_lost(int error) {
  return error == ECONNRESET || error == ECONNABORTED || error == EPIPE || error == ETIMEDOUT ||
         error == EHOSTUNREACH || error == ENETUNREACH;
}
std::string error_text(int error) { return std::strerror(error); }

long send_some(SocketHandle s, const std::uint8_t *bytes, std::size_t n) {
  for (;;) {
    // A far side that has gone must not end the program with SIGPIPE.
    const ssize_t w = ::send(s, bytes, n, MSG_NOSIGNAL);
    if (w >= 0 || errno != EINTR) return static_cast<long>(w);
  }
}

long recv_some(SocketHandle s, std::uint8_t *buffer, std::size_t max) {
  for (;;) {
    const ssize_t r = ::recv(s, buffer, max, 0);
    if (r >= 0 || errno != EINTR) return static_cast<long>(r);
  }
}

int wait_socket(SocketHandle s, bool for_write, int timeout_ms) {
  pollfd p{s, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
}

#endif

}  // namespace tolvex::net
