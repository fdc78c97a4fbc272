#include "sim_socket.hpp"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstdio>
#include <ctime>
#include <mutex>

namespace tolvex::sim {

std::string utc_time_of_day() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1'000'000;
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &seconds);
#else
  gmtime_r(&seconds, &tm);
#endif
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06ld", tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<long>(micros < 0 ? micros + 1'000'000 : micros));
  return text;
}

long local_offset_s(std::time_t wall) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &wall);
  return static_cast<long>(_mkgmtime(&local) - wall);
#else
  localtime_r(&wall, &local);
  return local.tm_gmtoff;
#endif
}

#ifdef _WIN32

namespace {
SOCKET native(Socket s) { return static_cast<SOCKET>(s); }
}  // namespace

bool start_sockets(std::string &error) {
  static std::once_flag once;
  static int rc = 0;
  std::call_once(once, [] {
    WSADATA data;
    rc = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (rc != 0) error = "WSAStartup failed (" + std::to_string(rc) + ")";
  return rc == 0;
}

void close_socket(Socket s) {
  if (s != kNoSocket) ::closesocket(native(s));
}

// A UDP socket on the loopback connected to itself: a datagram sent on it makes it readable.
Socket make_waker() {
  std::string error;
  if (!start_sockets(error)) return kNoSocket;
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long on = 1;
  if (::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      ::ioctlsocket(s, FIONBIO, &on) != 0) {
    ::closesocket(s);
    return kNoSocket;
  }
  return static_cast<Socket>(s);
}

void wake(Socket waker) {
  const char one = 1;
  ::send(native(waker), &one, 1, 0);
}

void drain_waker(Socket waker) {
  char buf[64];
  while (::recv(native(waker), buf, sizeof buf, 0) > 0) {
  }
}

bool wait_ready(Socket line, bool want_write, Socket waker, Socket listener, std::chrono::nanoseconds timeout,
                Ready &ready) {
  ready = {};
  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  for (const Socket s : {line, waker, listener})
    if (s != kNoSocket) FD_SET(native(s), &readable);
  if (line != kNoSocket) {
    FD_SET(native(line), &failed);
    if (want_write) FD_SET(native(line), &writable);
  }
  timeval tv{};
  timeval *limit = nullptr;
  if (timeout.count() >= 0) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    tv.tv_sec = static_cast<long>(us / 1'000'000);
    tv.tv_usec = static_cast<long>(us % 1'000'000);
    limit = &tv;
  }
  if (::select(0, &readable, &writable, &failed, limit) == SOCKET_ERROR) return false;
  ready.line = line != kNoSocket && (FD_ISSET(native(line), &readable) || FD_ISSET(native(line), &failed));
  ready.waker = waker != kNoSocket && FD_ISSET(native(waker), &readable);
  ready.listener = listener != kNoSocket && FD_ISSET(native(listener), &readable);
  return true;
}

long line_read(Socket s, bool, std::uint8_t *buf, std::size_t n) {
  return ::recv(native(s), reinterpret_cast<char *>(buf), static_cast<int>(n), 0);
}

long line_write(Socket s, bool, const std::uint8_t *buf, std::size_t n) {
  return ::send(native(s), reinterpret_cast<const char *>(buf), static_cast<int>(n), 0);
}

bool would_block() {
  const int e = WSAGetLastError();
  return e == WSAEWOULDBLOCK || e == WSAEINTR;
}

bool peer_closed(Socket s) {
  char next = 0;
  return ::recv(native(s), &next, 1, MSG_PEEK) == 0;
}

#else

bool start_sockets(std::string &) { return true; }

void close_socket(Socket s) {
  if (s != kNoSocket) ::close(static_cast<int>(s));
}

Socket make_waker() { return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

void wake(Socket waker) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t w = ::write(static_cast<int>(waker), &one, sizeof one);
}

void drain_waker(Socket waker) {
  std::uint64_t v = 0;
  [[maybe_unused]] const ssize_t r = ::read(static_cast<int>(waker), &v, sizeof v);
}

bool wait_ready(Socket line, bool want_write, Socket waker, Socket listener, std::chrono::nanoseconds timeout,
                Ready &ready) {
  ready = {};
  pollfd fds[3] = {{static_cast<int>(line), static_cast<short>(POLLIN | (want_write ? POLLOUT : 0)), 0},
                   {static_cast<int>(waker), POLLIN, 0},
                   {static_cast<int>(listener), POLLIN, 0}};
  timespec ts{};
  if (timeout.count() >= 0) {
    ts.tv_sec = static_cast<time_t>(timeout.count() / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(timeout.count() % 1'000'000'000);
  }
  if (::ppoll(fds, 3, timeout.count() >= 0 ? &ts : nullptr, nullptr) < 0) return errno == EINTR;
  ready.line = fds[0].revents & (POLLIN | POLLHUP | POLLERR);
  ready.waker = fds[1].revents & POLLIN;
  ready.listener = fds[2].revents & POLLIN;
  return true;
}

long line_read(Socket s, bool, std::uint8_t *buf, std::size_t n) { return ::read(static_cast<int>(s), buf, n); }

// A client gone from the TCP side must not end the program with SIGPIPE.
long line_write(Socket s, bool tcp, const std::uint8_t *buf, std::size_t n) {
  return tcp ? ::send(static_cast<int>(s), buf, n, MSG_NOSIGNAL) : ::write(static_cast<int>(s), buf, n);
}

bool would_block() { return errno == EAGAIN || errno == EINTR; }

bool peer_closed(Socket s) {
  char next = 0;
  return ::recv(static_cast<int>(s), &next, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

#endif

}  // namespace tolvex::sim
