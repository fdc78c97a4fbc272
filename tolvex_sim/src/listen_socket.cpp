#include "listen_socket.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolvex::sim {

std::string listen_host(const std::string &address) {
  const std::size_t colon = address.rfind(':');
  return colon == std::string::npos ? address : address.substr(0, colon);
}

int listen_on(const std::string &address, std::uint16_t &port, std::string &error) {
  std::string host = listen_host(address);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    error = "--listen " + address + ": an IPv6 host is written [ADDRESS]:PORT";
    return -1;
  }
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos) {
    error = "--listen " + address + ": expected HOST:PORT";
    return -1;
  }
  const std::string service = address.substr(colon + 1);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo *list = nullptr;
  if (const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &list); rc != 0) {
    error = "--listen " + address + ": " + ::gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  int last = 0;
  for (const addrinfo *ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
    fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) {
      last = errno;
      continue;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
      last = errno;
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(list);
  if (fd < 0) {
    error = "--listen " + address + ": " + std::strerror(last);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
  port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                           : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
  return fd;
}

int accept_client(int listen_fd) {
  const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace tolvex::sim
