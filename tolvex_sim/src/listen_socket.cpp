#include "listen_socket.hpp"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace tolvex::sim {

namespace {

#ifdef _WIN32
using Native = SOCKET;
constexpr Native kBad = INVALID_SOCKET;
using Length = int;
int last_error() { return WSAGetLastError(); }
std::string error_text(int code) {
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code), 0,
                 text, sizeof text, nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s.empty() ? "socket error " + std::to_string(code) : s;
}
Native open_socket(const addrinfo *ai) {
  const SOCKET s = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
  u_long on = 1;
  if (s != INVALID_SOCKET && ::ioctlsocket(s, FIONBIO, &on) != 0) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}
Native accept_one(Native listener) {
  const SOCKET s = ::accept(listener, nullptr, nullptr);
  u_long on = 1;
  if (s != INVALID_SOCKET) ::ioctlsocket(s, FIONBIO, &on);
  return s;
}
#else
using Native = int;
constexpr Native kBad = -1;
using Length = socklen_t;
int last_error() { return errno; }
std::string error_text(int code) { return std::strerror(code); }
Native open_socket(const addrinfo *ai) {
  return ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
}
Native accept_one(Native listener) { return ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }
#endif

}  // namespace

std::string listen_host(const std::string &address) {
  const std::size_t colon = address.rfind(':');
  return colon == std::string::npos ? address : address.substr(0, colon);
}

Socket listen_on(const std::string &address, std::uint16_t &port, std::string &error) {
  std::string host = listen_host(address);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    error = "--listen " + address + ": an IPv6 host is written [ADDRESS]:PORT";
    return kNoSocket;
  }
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos) {
    error = "--listen " + address + ": expected HOST:PORT";
    return kNoSocket;
  }
  if (!start_sockets(error)) return kNoSocket;
  const std::string service = address.substr(colon + 1);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo *list = nullptr;
  if (const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &list); rc != 0) {
    error = "--listen " + address + ": " + ::gai_strerror(rc);
    return kNoSocket;
  }
  Native fd = kBad;
  int last = 0;
  for (const addrinfo *ai = list; ai != nullptr && fd == kBad; ai = ai->ai_next) {
    fd = open_socket(ai);
    if (fd == kBad) {
      last = last_error();
      continue;
    }
#ifndef _WIN32
    // Windows' SO_REUSEADDR would let a second listener take the port: only POSIX wants it.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    if (::bind(fd, ai->ai_addr, static_cast<Length>(ai->ai_addrlen)) != 0 || ::listen(fd, 4) != 0) {
      last = last_error();
      close_socket(static_cast<Socket>(fd));
      fd = kBad;
    }
  }
  ::freeaddrinfo(list);
  if (fd == kBad) {
    error = "--listen " + address + ": " + error_text(last);
    return kNoSocket;
  }
  sockaddr_storage bound{};
  Length length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
  port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                           : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
  return static_cast<Socket>(fd);
}

Socket accept_client(Socket listener) {
  const Native fd = accept_one(static_cast<Native>(listener));
  if (fd == kBad) return kNoSocket;
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
  return static_cast<Socket>(fd);
}

}  // namespace tolvex::sim
