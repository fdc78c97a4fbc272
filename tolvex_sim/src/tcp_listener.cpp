// One thread polls the listening socket, the client's connection, the line and a wake-up;
// bytes that one side cannot take at once wait in a buffer until it can.
#include "tolvex_sim/tcp_listener.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace tolvex::sim {

namespace {

bool non_blocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Writes what the descriptor takes now; false when it is gone.
bool write_some(int fd, std::vector<std::uint8_t> &pending, bool socket) {
  while (!pending.empty()) {
    const ssize_t w = socket ? ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL)
                             : ::write(fd, pending.data(), pending.size());
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    pending.erase(pending.begin(), pending.begin() + w);
  }
  return true;
}

}  // namespace

struct TcpListener::Impl {
  std::string line_path;
  int listen_fd = -1;
  int line_fd = -1;
  int wake_fd = -1;
  std::atomic<int> client_fd{-1};
  std::atomic<bool> stopping{false};
  std::atomic<bool> drop{false};
  std::uint16_t port = 0;
  std::thread thread;

  void close_all() {
    for (int *fd : {&listen_fd, &line_fd, &wake_fd}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
  }
  void wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(wake_fd, &one, sizeof one);
  }
  void run();
};

void TcpListener::Impl::run() {
  std::vector<std::uint8_t> to_client;
  std::vector<std::uint8_t> to_line;
  std::uint8_t buffer[4096];
  int client = -1;
  const auto end_client = [&] {
    if (client >= 0) ::close(client);
    client = -1;
    client_fd = -1;
    to_client.clear();
    to_line.clear();
  };
  while (!stopping.load()) {
    if (drop.exchange(false)) end_client();
    pollfd fds[4] = {
        {wake_fd, POLLIN, 0},
        {listen_fd, POLLIN, 0},
        {line_fd, static_cast<short>(POLLIN | (to_line.empty() ? 0 : POLLOUT)), 0},
        {client, static_cast<short>(POLLIN | (to_client.empty() ? 0 : POLLOUT)), 0},
    };
    if (::poll(fds, client >= 0 ? 4 : 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) {
      std::uint64_t v = 0;
      [[maybe_unused]] const ssize_t r = ::read(wake_fd, &v, sizeof v);
      continue;  // a stop or a drop: seen at the top
    }
    if (fds[1].revents & POLLIN) {
      const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) {
        if (client >= 0) {
          ::close(fd);  // one client at a time
        } else {
          int on = 1;
          ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
          client = fd;
          client_fd = fd;
        }
      }
    }
    if (fds[2].revents & POLLIN) {
      const ssize_t n = ::read(line_fd, buffer, sizeof buffer);
      // With nobody connected what the terminal sends goes nowhere, as on an unplugged line.
      if (n > 0 && client >= 0) to_client.insert(to_client.end(), buffer, buffer + n);
    }
    if (client >= 0 && (fds[3].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n > 0) {
        to_line.insert(to_line.end(), buffer, buffer + n);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        end_client();
      }
    }
    if (client >= 0 && !write_some(client, to_client, true)) end_client();
    write_some(line_fd, to_line, false);
  }
  end_client();
}

TcpListener::TcpListener(std::string line) : impl_(std::make_unique<Impl>()) { impl_->line_path = std::move(line); }

TcpListener::~TcpListener() { stop(); }

bool TcpListener::start(const std::string &address, std::string *error) {
  Impl &m = *impl_;
  const auto fail = [&](const std::string &what, int e) {
    if (error != nullptr) *error = what + (e != 0 ? std::string(": ") + std::strerror(e) : std::string());
    m.close_all();
    return false;
  };
  if (m.thread.joinable()) return fail("already listening", 0);
  std::string host;
  std::string port_text;
  if (!address.empty() && address.front() == '[') {
    const std::size_t close = address.find("]:");
    if (close == std::string::npos) return fail("--listen " + address + ": an IPv6 host is written [ADDRESS]:PORT", 0);
    host = address.substr(1, close - 1);
    port_text = address.substr(close + 2);
  } else {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos) return fail("--listen " + address + ": expected HOST:PORT", 0);
    host = address.substr(0, colon);
    port_text = address.substr(colon + 1);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo *list = nullptr;
  if (const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port_text.c_str(), &hints, &list); rc != 0) {
    if (error != nullptr) *error = "--listen " + address + ": " + ::gai_strerror(rc);
    return false;
  }
  int last = 0;
  for (const addrinfo *ai = list; ai != nullptr && m.listen_fd < 0; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      last = errno;
      continue;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, 4) != 0 || !non_blocking(fd)) {
      last = errno;
      ::close(fd);
      continue;
    }
    m.listen_fd = fd;
  }
  ::freeaddrinfo(list);
  if (m.listen_fd < 0) return fail("--listen " + address, last);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (::getsockname(m.listen_fd, reinterpret_cast<sockaddr *>(&bound), &length) != 0) return fail("getsockname", errno);
  m.port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);

  m.line_fd = ::open(m.line_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m.line_fd < 0) return fail("open " + m.line_path, errno);
  termios tio{};
  if (::tcgetattr(m.line_fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(m.line_fd, TCSANOW, &tio);
  }
  m.wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m.wake_fd < 0) return fail("eventfd", errno);
  m.stopping = false;
  m.thread = std::thread([&m] { m.run(); });
  return true;
}

void TcpListener::stop() {
  Impl &m = *impl_;
  if (!m.thread.joinable()) return;
  m.stopping = true;
  m.wake();
  m.thread.join();
  m.close_all();
}

std::uint16_t TcpListener::port() const { return impl_->port; }

void TcpListener::drop_client() {
  if (!impl_->thread.joinable()) return;
  impl_->drop = true;
  impl_->wake();
}

bool TcpListener::has_client() const { return impl_->client_fd.load() >= 0; }

}  // namespace tolvex::sim
